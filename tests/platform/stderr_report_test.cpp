// The lines reports become on standard error: time, level, subject, message.
#include "platform/output/stderr_report.h"

#include <gtest/gtest.h>

#include <string>

namespace quorvane {
namespace {

using namespace std::chrono;

// 2026-12-10T15:18:00.123Z
const system_clock::time_point kWhen =
    system_clock::time_point(seconds(1796915880)) + milliseconds(123);

TEST(StderrReportTest, LineHoldsTheUtcTimeToTheMillisecondTheLevelAndTheSubject) {
  struct Case {
    Diagnostic diagnostic;
    std::string line;
  };
  const Case cases[] = {
      {{Severity::kWarning, "slot 1 127.0.0.1:40000", "closed: no handshake within 10 s"},
       "2026-12-10T15:18:00.123Z W slot 1 127.0.0.1:40000: closed: no handshake within 10 s"},
      {{Severity::kInfo, "192.0.2.1:5", "refused: every slot is taken"},
       "2026-12-10T15:18:00.123Z I 192.0.2.1:5: refused: every slot is taken"},
      {{Severity::kError, "", "no subject"}, "2026-12-10T15:18:00.123Z E no subject"},
  };
  for (const Case& c : cases) EXPECT_EQ(FormatDiagnostic(kWhen, c.diagnostic), c.line);
}

TEST(StderrReportTest, MillisecondsAreZeroPaddedAndWholeSecondsShowThreeZeros) {
  const system_clock::time_point epoch{};
  EXPECT_EQ(FormatDiagnostic(epoch + milliseconds(7), {Severity::kInfo, "s", "m"}),
            "1970-01-01T00:00:00.007Z I s: m");
  EXPECT_EQ(FormatDiagnostic(epoch + hours(24), {Severity::kInfo, "s", "m"}),
            "1970-01-02T00:00:00.000Z I s: m");
}

// A name from a client may hold any byte; the report must stay one line.
TEST(StderrReportTest, ControlBytesAreEscapedSoTheReportStaysOneLine) {
  const std::string message = std::string("logged in as \"A\nB\r\x1b\x7f") + '\0' + "\"";
  EXPECT_EQ(FormatDiagnostic(kWhen, {Severity::kInfo, "slot\t1", message}),
            "2026-12-10T15:18:00.123Z I slot\\x091: logged in as \"A\\x0AB\\x0D\\x1B\\x7F\\x00\"");
}

TEST(StderrReportTest, ReportIsOneFlushedLine) {
  ::testing::internal::CaptureStderr();
  ReportOnStderr({Severity::kWarning, "127.0.0.1", "banned for 300 s"});
  const std::string written = ::testing::internal::GetCapturedStderr();
  EXPECT_EQ(written.size(),
            std::string("2026-12-10T15:18:00.123Z W 127.0.0.1: banned for 300 s\n").size())
      << written;
  EXPECT_EQ(written.substr(24), " W 127.0.0.1: banned for 300 s\n");
}

}  // namespace
}  // namespace quorvane
