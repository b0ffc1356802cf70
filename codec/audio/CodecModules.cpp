#include "codec/audio/CodecModules.h"

#include <dlfcn.h>

#include <array>
#include <cwchar>

#include "base/DebugPrint.h"
#include "base/TextCodec.h"

namespace fennik {
namespace {

struct LoadedModule {
  void* library = nullptr;
  const CodecModuleOps* ops = nullptr;
};

constexpr size_t kModules = static_cast<size_t>(CodecModule::kCount);
std::array<LoadedModule, kModules> g_modules;

// Notices are wide texts; the about box shows UTF-8.
std::string WideToUtf8(const wchar_t* text) {
  std::string out;
  for (; *text != 0; ++text) {
    auto c = static_cast<uint32_t>(*text);
    if (c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) c = 0xFFFD;
    AppendUtf8(out, c);
  }
  return out;
}

}  // namespace

const char* CodecModuleFileName(CodecModule module) {
  switch (module) {
    case CodecModule::kGsm: return "xcgsm_x64.so";
    case CodecModule::kOpus: return "xcopus_x64.so";
    case CodecModule::kSpeex: return "xcspeex_x64.so";
    case CodecModule::kIlbc: return "xcilbc_x64.so";
    case CodecModule::kG729: return "xcg729_x64.so";
    case CodecModule::kAac: return "xcaac_x64.so";
    default: return "";
  }
}

int LoadCodecModules(const std::string& folder) {
  int loaded = 0;
  for (size_t i = 0; i < kModules; ++i) {
    LoadedModule& m = g_modules[i];
    if (m.ops != nullptr) {
      ++loaded;
      continue;
    }
    const std::string path = folder + "/" + CodecModuleFileName(static_cast<CodecModule>(i));
    void* library = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (library == nullptr) continue;  // the common case: no such module
    auto entry = reinterpret_cast<LoadCodecFunction>(::dlsym(library, "LoadCodec"));
    const CodecModuleOps* ops = entry != nullptr ? entry() : nullptr;
    if (ops == nullptr) {
      DebugPrint("codec module %s: no LoadCodec or no table\n", path.c_str());
      ::dlclose(library);
      continue;
    }
    m = {library, ops};
    ++loaded;
  }
  return loaded;
}

void UnloadCodecModules() {
  for (LoadedModule& m : g_modules) {
    if (m.library != nullptr) ::dlclose(m.library);
    m = {};
  }
}

const CodecModuleOps* CodecModuleTable(CodecModule module) {
  const auto i = static_cast<size_t>(module);
  return i < kModules ? g_modules[i].ops : nullptr;
}

std::string CodecModuleNotices() {
  static constexpr CodecModule kOrder[] = {CodecModule::kSpeex, CodecModule::kOpus, CodecModule::kGsm,
                                           CodecModule::kIlbc, CodecModule::kG729,
                                           CodecModule::kAac};
  std::string text;
  for (CodecModule module : kOrder) {
    const CodecModuleOps* ops = CodecModuleTable(module);
    const wchar_t* notice = ops != nullptr && ops->GetNoticeText != nullptr ? ops->GetNoticeText() : nullptr;
    if (notice == nullptr || *notice == 0) continue;
    if (!text.empty()) {
      // The separator stands on a line of its own.
      if (text.back() != '\n') text += "\r\n";
      text += std::string(72, '-') + "\r\n";
    }
    text += WideToUtf8(notice);
  }
  return text;
}

}  // namespace fennik
