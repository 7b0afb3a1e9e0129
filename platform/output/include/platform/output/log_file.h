// --log-file: every line the server writes for its operator on standard error
// (reports and its own start-up, reload and shutdown lines) is also appended
// to a file, each stamped with the time and level. SIGHUP reopens the file, so
// that a rotated log is let go and a fresh one begun. A write that fails (a
// full disk, an I/O error, the file size limit) is told once on standard
// error with its reason, and how many lines were lost once writing works
// again.
#pragma once

#include <QString>
#include <cstdint>
#include <memory>
#include <vector>

#include "platform/output/stderr_report.h"

namespace quorvane {

class LogFile {
 public:
  // Opens `path` for appending, creating it (mode 0640 before the umask).
  // Throws std::runtime_error "cannot open the log file PATH: reason". Made
  // and ended on the event thread.
  explicit LogFile(const QString& path);
  LogFile(const LogFile&) = delete;
  LogFile& operator=(const LogFile&) = delete;
  // Gives what is queued a moment to be written.
  ~LogFile();

  const QString& Path() const { return path_; }

 private:
  class Descriptor;
  friend std::uint64_t LogFileDroppedLines();

  // Drops of the files closed already, and the files open.
  static std::uint64_t& RetiredDrops();
  static std::vector<const LogFile*>& Open();

  QString path_;
  std::unique_ptr<Descriptor> file_;
  DiagnosticsTap tap_;
};

// Lines every log file of the process dropped, failed to write or lost.
std::uint64_t LogFileDroppedLines();

// Puts `path` into effect on `current`: opens it afresh, even when it is the
// file already open, so that SIGHUP after a rotation starts the new file; an
// empty path closes the log. When `path` cannot be opened, the old file stays
// in use and the std::runtime_error of LogFile's constructor is thrown.
void ReopenLogFile(std::unique_ptr<LogFile>& current, const QString& path);

}  // namespace quorvane
