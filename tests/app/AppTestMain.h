// Shared set-up of the desktop tests: one QApplication on the offscreen platform, a
// settings file of the test's own, the audio codecs registered, and helpers that wait for
// the worker and answer message boxes.
#pragma once

#include <QApplication>
#include <QString>
#include <string>
#include <vector>

namespace fennik::test {

QApplication& App();
std::string SettingsPath();
// Processes events until `done` returns true or `ms` milliseconds have passed.
bool WaitFor(const std::function<bool()>& done, int ms = 20000);

// Message boxes shown while it lives, answered with `answer`.
struct MessageLog {
  struct Entry {
    QString caption;
    QString text;
  };
  explicit MessageLog(bool answer = false);
  ~MessageLog();
  std::vector<Entry> entries;
  bool answer;
};

}  // namespace fennik::test
