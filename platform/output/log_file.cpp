#include "platform/output/log_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <stdexcept>
#include <string>

#include "platform/output/non_blocking_output.h"

namespace quorvane {

// The open file and the queue that writes to it without ever blocking: a
// regular file takes every line at once; a FIFO or a terminal named as the
// log may not.
class LogFile::Descriptor {
 public:
  Descriptor(int fd, const QString& path)
      : fd_(fd), output_(fd, "the log file " + path.toStdString()) {}
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  ~Descriptor() {
    output_.Flush(kCloseFlushTime);
    ::close(fd_);
  }

  void Append(std::string_view line) {
    std::string text(line);
    text += '\n';
    output_.Write(text);
  }

 private:
  static constexpr std::chrono::milliseconds kCloseFlushTime{500};

  int fd_;
  NonBlockingOutput output_;
};

namespace {

int OpenForAppending(const QString& path) {
  // O_NONBLOCK: a FIFO without a reader fails at once instead of stalling the server.
  const int fd = ::open(path.toLocal8Bit().constData(),
                        O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NOCTTY | O_NONBLOCK, 0640);
  if (fd < 0) {
    throw std::runtime_error("cannot open the log file " + path.toStdString() + ": " +
                             std::strerror(errno));
  }
  return fd;
}

}  // namespace

LogFile::LogFile(const QString& path)
    : path_(path),
      file_(std::make_unique<Descriptor>(OpenForAppending(path), path)),
      tap_([this](std::string_view line) { file_->Append(line); }) {}

LogFile::~LogFile() = default;

void ReopenLogFile(std::unique_ptr<LogFile>& current, const QString& path) {
  if (path.isEmpty()) {
    current.reset();
    return;
  }
  // The new file opens before the old one closes: a failure leaves the old in use.
  current = std::make_unique<LogFile>(path);
}

}  // namespace quorvane
