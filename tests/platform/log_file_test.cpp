// --log-file: the operator's lines also go, stamped, to a file that SIGHUP
// reopens so that a rotated log is let go.
#include "platform/output/log_file.h"

#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

namespace quorvane {
namespace {

std::vector<std::string> LinesOf(const QString& path) {
  std::ifstream file(path.toStdString());
  std::vector<std::string> lines;
  for (std::string line; std::getline(file, line);) lines.push_back(line);
  return lines;
}

// "2026-12-10T15:18:00.123Z " and what follows it, or "(unstamped) line".
std::string AfterStamp(const std::string& line) {
  const bool stamped =
      line.size() > 25 && line[4] == '-' && line[10] == 'T' && line[23] == 'Z' && line[24] == ' ';
  return stamped ? line.substr(25) : "(unstamped) " + line;
}

std::vector<std::string> Unstamped(const QString& path) {
  std::vector<std::string> lines;
  for (const std::string& line : LinesOf(path)) lines.push_back(AfterStamp(line));
  return lines;
}

class LogFileTest : public ::testing::Test {
 protected:
  QString PathOf(const QString& name) const { return folder_.filePath(name); }

  QTemporaryDir folder_;
};

TEST_F(LogFileTest, ReportsAndTheProgramsOwnLinesAreAppendedStamped) {
  const QString path = PathOf("quorvane.log");
  std::ofstream(path.toStdString()) << "kept from before\n";
  ::testing::internal::CaptureStderr();
  {
    const LogFile log(path);
    ReportOnStderr({Severity::kInfo, "slot 1 127.0.0.1:40000", "accepted"});
    ReportProgramLine(Severity::kWarning, "no folder x");
    ReportStartFailure("quorvane: cannot serve");
  }
  ReportOnStderr({Severity::kInfo, "after", "the log is closed"});
  const std::string onStderr = ::testing::internal::GetCapturedStderr();

  EXPECT_EQ(LinesOf(path).front(), "kept from before");
  EXPECT_EQ(Unstamped(path),
            (std::vector<std::string>{"(unstamped) kept from before",
                                      "I slot 1 127.0.0.1:40000: accepted", "W no folder x",
                                      "E quorvane: cannot serve"}));
  // Standard error stamps the program's line as it stamps reports, and keeps
  // the error that ends the start as programs write theirs.
  EXPECT_NE(onStderr.find("Z W no folder x\n"), std::string::npos) << onStderr;
  EXPECT_NE(onStderr.find("\nquorvane: cannot serve\n"), std::string::npos) << onStderr;
}

TEST_F(LogFileTest, ReopeningAfterARotationStartsTheNewFile) {
  const QString path = PathOf("quorvane.log");
  const QString rotated = PathOf("quorvane.log.1");
  ::testing::internal::CaptureStderr();
  std::unique_ptr<LogFile> log;
  ReopenLogFile(log, path);
  ReportProgramLine(Severity::kInfo, "before");
  ASSERT_EQ(::rename(path.toLocal8Bit().constData(), rotated.toLocal8Bit().constData()), 0);
  ReportProgramLine(Severity::kInfo, "still to the renamed file");
  ReopenLogFile(log, path);
  ReportProgramLine(Severity::kInfo, "after");
  log.reset();
  ::testing::internal::GetCapturedStderr();

  EXPECT_EQ(Unstamped(rotated),
            (std::vector<std::string>{"I before", "I still to the renamed file"}));
  EXPECT_EQ(Unstamped(path), (std::vector<std::string>{"I after"}));
}

TEST_F(LogFileTest, AFileThatCannotBeOpenedKeepsTheOldOneInUse) {
  const QString path = PathOf("quorvane.log");
  const QString unreachable = PathOf("no-such-folder/quorvane.log");
  ::testing::internal::CaptureStderr();
  std::unique_ptr<LogFile> log;
  ReopenLogFile(log, path);
  try {
    ReopenLogFile(log, unreachable);
    ADD_FAILURE() << "opened " << unreachable.toStdString();
  } catch (const std::runtime_error& error) {
    EXPECT_EQ(std::string(error.what()), "cannot open the log file " + unreachable.toStdString() +
                                             ": No such file or directory");
  }
  ASSERT_TRUE(log);
  EXPECT_EQ(log->Path(), path);
  ReportProgramLine(Severity::kInfo, "still here");
  ReopenLogFile(log, {});
  ReportProgramLine(Severity::kInfo, "closed");
  ::testing::internal::GetCapturedStderr();

  EXPECT_FALSE(log);
  EXPECT_EQ(Unstamped(path), (std::vector<std::string>{"I still here"}));
}

TEST_F(LogFileTest, ANewFileIsNotReadableByEveryone) {
  const mode_t previous = ::umask(0);
  { const LogFile log(PathOf("quorvane.log")); }
  ::umask(previous);
  struct stat status {};
  ASSERT_EQ(::stat(PathOf("quorvane.log").toLocal8Bit().constData(), &status), 0);
  EXPECT_EQ(status.st_mode & 0777, 0640u);
}

// A FIFO nobody reads would block an ordinary open for good.
TEST_F(LogFileTest, AFifoWithoutAReaderIsRefusedAtOnce) {
  const QString fifo = PathOf("fifo");
  ASSERT_EQ(::mkfifo(fifo.toLocal8Bit().constData(), 0600), 0);
  EXPECT_THROW(LogFile{fifo}, std::runtime_error);
}

}  // namespace
}  // namespace quorvane
