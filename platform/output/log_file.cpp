#include "platform/output/log_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/output/non_blocking_output.h"

namespace quorvane {

// The open file and the queue that writes to it without ever blocking: a
// regular file takes every line at once; a FIFO or a terminal named as the
// log may not.
class LogFile::Descriptor {
 public:
  Descriptor(int fd, const QString& path)
      : fd_(fd), name_("the log file " + path.toStdString()), output_(fd, name_) {
    output_.SetFailureReport({
        .failed = [this](int error) { TellFailure(error); },
        .recovered = [this](std::uint64_t lost) { TellRecovery(lost); },
    });
  }
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  ~Descriptor() {
    output_.Flush(kCloseFlushTime);
    ::close(fd_);
    RetiredDrops() += output_.Dropped();
  }

  std::uint64_t Dropped() const { return output_.Dropped(); }

  void Append(std::string_view line) {
    std::string text(line);
    text += '\n';
    output_.Write(text);
  }

 private:
  static constexpr std::chrono::milliseconds kCloseFlushTime{500};

  // On standard error alone: the log file is the stream that failed.
  void Tell(Severity severity, const std::string& message) {
    StandardError().Write(
        FormatDiagnostic(std::chrono::system_clock::now(), {severity, name_, message}) + "\n");
  }
  void TellFailure(int error) {
    Tell(Severity::kError, std::string("cannot write: ") + std::strerror(error) + NameOf(error) +
                               "; its lines are lost until writing works again");
  }
  void TellRecovery(std::uint64_t lost) {
    Tell(Severity::kInfo, "writing again; " + std::to_string(lost) + " lines lost");
  }
  static std::string NameOf(int error) {
    switch (error) {
      case ENOSPC:
        return " (ENOSPC)";
      case EIO:
        return " (EIO)";
      case EFBIG:
        return " (EFBIG)";
      case EDQUOT:
        return " (EDQUOT)";
      default:
        return "";
    }
  }

  int fd_;
  std::string name_;
  NonBlockingOutput output_;
};

std::uint64_t& LogFile::RetiredDrops() {
  static std::uint64_t dropped = 0;
  return dropped;
}

std::vector<const LogFile*>& LogFile::Open() {
  static std::vector<const LogFile*> open;
  return open;
}

std::uint64_t LogFileDroppedLines() {
  std::uint64_t dropped = LogFile::RetiredDrops();
  for (const LogFile* file : LogFile::Open()) dropped += file->file_->Dropped();
  return dropped;
}

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
      tap_([this](std::string_view line) { file_->Append(line); }) {
  Open().push_back(this);
}

LogFile::~LogFile() {
  std::erase(Open(), this);
}

void ReopenLogFile(std::unique_ptr<LogFile>& current, const QString& path) {
  if (path.isEmpty()) {
    current.reset();
    return;
  }
  // The new file opens before the old one closes: a failure leaves the old in use.
  current = std::make_unique<LogFile>(path);
}

}  // namespace quorvane
