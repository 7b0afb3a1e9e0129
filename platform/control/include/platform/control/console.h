// The console: command lines read from standard input as they come, the
// answers written to standard output beside the log lines, for hosting
// panels and terminals that drive the server through its standard input.
// The end of input ends the console, not the server.
#pragma once

#include <QByteArray>
#include <QSocketNotifier>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "host/operator_actions.h"

namespace quorvane {

class Console {
 public:
  using Handler = std::function<std::string(std::string_view line, const Operator& by)>;
  // Lines longer than this are refused whole.
  static constexpr qsizetype kMaxLineBytes = 4096;

  // Reads file descriptor `fd` (0: standard input) and writes each answer
  // with `write`.
  Console(int fd, Handler handler, std::function<void(std::string_view)> write);
  Console(const Console&) = delete;
  Console& operator=(const Console&) = delete;
  ~Console();

 private:
  void Read();

  int fd_;
  Handler handler_;
  std::function<void(std::string_view)> write_;
  Operator self_;
  QByteArray pending_;
  bool skipping_ = false;  // the rest of an overlong line
  std::unique_ptr<QSocketNotifier> notifier_;
};

}  // namespace quorvane
