// Where the settings file lives, and the file operations used to read and replace it.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace fennik {

inline constexpr char kSettingsFileName[] = "fennik.ini";

// The folder of the running executable (no trailing separator), or "" when unknown.
std::string ExecutableFolder();
// The current folder, or "" when unknown.
std::string CurrentFolder();
// $XDG_CONFIG_HOME/fennik when that variable holds an absolute path, else
// $HOME/.config/fennik; "" when neither is known.
std::string UserConfigFolder();
bool IsFolderWritable(const std::string& folder);

std::string JoinPath(std::string_view folder, std::string_view name);
std::string FolderOf(std::string_view path);

using FolderWritableCheck = bool (*)(const std::string& folder);

// The settings file: "fennik.ini" in the start folder when a file of that name can be
// opened there for reading; else in the program folder, unless that folder is not
// writable and holds no such file, in which case it is "fennik.ini" in
// `userConfigFolder` (when that is known).
std::string LocateSettingsFile(const std::string& currentPath, const std::string& appPath,
                               const std::string& userConfigFolder,
                               FolderWritableCheck isWritable = IsFolderWritable);

enum class ReadFileResult { kOk, kMissing, kUnreadable };

// Reads a whole regular file of at most `maxSize` bytes. A short read, a non-regular
// file or a larger file is kUnreadable.
ReadFileResult ReadWholeFile(const std::string& path, size_t maxSize, std::string& out);

// Replaces `path` with `data` without ever leaving a partial file: the data goes to a
// temporary file in the same folder (created with missing parent folders), is flushed to
// disk and then renamed over `path`. On failure the previous file is untouched and the
// temporary file removed. An existing file's permission bits are kept; when `path` is a
// symbolic link, the file it points to is replaced and the link stays.
bool ReplaceFile(const std::string& path, std::string_view data);

}  // namespace fennik
