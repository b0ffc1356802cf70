#include "base/DebugPrint.h"

#include <dlfcn.h>

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <mutex>

namespace fennik {
namespace {

using QwPrintf = int (*)(const wchar_t*, ...);

std::once_flag g_bindOnce;
std::atomic<QwPrintf> g_qwprintf{nullptr};
std::atomic<bool> g_toStderr{false};

void BindOnce() {
  const char* env = std::getenv("FENNIK_DEBUG");
  if (env != nullptr && std::strcmp(env, "1") == 0) g_toStderr = true;
  void* lib = dlopen("libqprint64.so", RTLD_NOW | RTLD_LOCAL);
  if (lib != nullptr) {
    g_qwprintf = reinterpret_cast<QwPrintf>(dlsym(lib, "qwprintf"));
  }
}

}  // namespace

void BindDebugSink() { std::call_once(g_bindOnce, BindOnce); }

void SetDebugToStderr(bool on) {
  BindDebugSink();
  g_toStderr = on;
}

void DebugPrint(const char* format, ...) {
  BindDebugSink();
  QwPrintf sink = g_qwprintf.load();
  if (sink == nullptr && !g_toStderr.load()) return;

  char line[2048];
  va_list args;
  va_start(args, format);
  std::vsnprintf(line, sizeof line, format, args);
  va_end(args);

  if (g_toStderr.load()) std::fputs(line, stderr);
  if (sink != nullptr) {
    // The sink takes wide text: widen the (UTF-8) line through the C library.
    wchar_t wide[2048];
    std::mbstate_t state{};
    const char* src = line;
    size_t n = std::mbsrtowcs(wide, &src, 2047, &state);
    if (n == static_cast<size_t>(-1)) return;
    wide[n] = L'\0';
    sink(L"%ls", wide);
  }
}

}  // namespace fennik
