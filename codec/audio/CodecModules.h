// The external codec modules: shared objects next to the program ("xcgsm_x64.so" ...) that
// decode GSM 06.10, Opus, Speex, iLBC and G.729 for the parsers of those streams. Each
// exports the C entry "LoadCodec" returning its operation table; a missing module only
// leaves its codec without decoding.
#pragma once

#include <cstdint>
#include <string>

namespace fennik {

// The modules in the order they are loaded and unloaded.
// kAac (xcaac_x64.so, AAC on FAAD2) is ours beyond the five voice codecs.
enum class CodecModule : int { kGsm = 0, kOpus, kSpeex, kIlbc, kG729, kAac, kCount };

// The 40-byte record handed to Create: 1, channels, sample rate (Hz), frame mode (iLBC's
// frame length in ms, 20 or 30; 0 for the others), then zeros.
// The AAC module takes the stream's AudioSpecificConfig in `reserved` (up to 24 bytes) and
// its length in bytes in `frameMode`.
struct CodecModuleConfig {
  uint32_t one = 1;
  uint32_t channels = 0;
  uint32_t sampleRate = 0;
  uint32_t frameMode = 0;
  uint8_t reserved[24] = {};
};
static_assert(sizeof(CodecModuleConfig) == 40);

// The operation table a module's LoadCodec returns; slot 0 is never called.
extern "C" {
struct CodecModuleOps {
  void* reserved;
  // direction: 1 = decode. Returns the decoder handle, or null.
  void* (*Create)(uint32_t direction, const CodecModuleConfig* config);
  void (*Destroy)(void* handle);
  void (*Reset)(void* handle);
  // The module's notice (zero-terminated), or null.
  const wchar_t* (*GetNoticeText)();
  // Decodes one frame into at most `capacity` samples; returns the samples written.
  // `info` points to 16 zeroed bytes the program does not read back.
  int32_t (*Decode)(void* handle, uint32_t zero, const uint8_t* frame, uint32_t length, int16_t* out,
                    uint32_t capacity, void* info);
};
using LoadCodecFunction = const CodecModuleOps* (*)();
}

// The module's file name ("xcgsm_x64.so" ...).
const char* CodecModuleFileName(CodecModule module);

// Loads every module found in `folder` (each once; a module already loaded is kept).
// Returns how many are loaded. A file that does not load, has no "LoadCodec" or returns no
// table is skipped without a report beyond a debug line.
int LoadCodecModules(const std::string& folder);
// Unloads the modules in load order and clears their tables.
void UnloadCodecModules();
// The operation table of a loaded module, or null.
const CodecModuleOps* CodecModuleTable(CodecModule module);

// The about box's text: the notices of the loaded modules in the order Speex, Opus,
// GSM 06.10, iLBC, G.729 (UTF-8), separated by a line of 72 "-" and CR LF. Modules that
// are not loaded, or give no notice, are left out.
std::string CodecModuleNotices();

}  // namespace fennik
