// The process-wide debug-print sink. Diagnostic lines never reach the user: they go to
// libqprint64.so's "qwprintf" entry when that library can be loaded, and additionally to
// standard error when FENNIK_DEBUG=1 is set (or SetDebugToStderr(true) was called).
#pragma once

namespace fennik {

// Binds the sink: loads libqprint64.so if present and reads FENNIK_DEBUG. Safe to call
// more than once; DebugPrint binds lazily on first use when this was never called.
void BindDebugSink();

// Sends diagnostic lines to standard error as well (the CLI's --debug).
void SetDebugToStderr(bool on);

// printf-style diagnostic line; the format normally ends with "\n".
void DebugPrint(const char* format, ...) __attribute__((format(printf, 1, 2)));

}  // namespace fennik
