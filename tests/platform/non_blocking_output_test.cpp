// Output that never blocks: a pipe or socket whose reader has stalled costs
// lines, counted and told of once the reader is back, never a wait.
#include "platform/output/non_blocking_output.h"

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdint>
#include <string>
#include <vector>

#include "spin.h"

namespace quorvane {
namespace {

using namespace std::chrono_literals;

// A pipe or a socket pair: what the output writes to, and the reader's end.
struct Channel {
  int reader = -1;
  int writer = -1;
  ~Channel() {
    if (reader >= 0) ::close(reader);
    if (writer >= 0) ::close(writer);
  }
};

enum class ChannelKind { kPipe, kSocket };

void MakeChannel(ChannelKind kind, Channel& channel) {
  int ends[2];
  if (kind == ChannelKind::kPipe) {
    ASSERT_EQ(::pipe(ends), 0);
    // One page: it fills after a few dozen lines.
    ASSERT_GT(::fcntl(ends[1], F_SETPIPE_SZ, 4096), 0);
  } else {
    ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM, 0, ends), 0);
    const int small = 4096;
    ASSERT_EQ(::setsockopt(ends[1], SOL_SOCKET, SO_SNDBUF, &small, sizeof small), 0);
  }
  channel.reader = ends[0];
  channel.writer = ends[1];
}

// Whatever the reader's end holds now.
std::string Drain(int fd) {
  std::string text;
  char buffer[65536];
  for (;;) {
    const int flags = ::fcntl(fd, F_GETFL);
    ::fcntl(fd, F_SETFL, flags | O_NONBLOCK);
    const ssize_t got = ::read(fd, buffer, sizeof buffer);
    ::fcntl(fd, F_SETFL, flags);
    if (got <= 0) return text;
    text.append(buffer, static_cast<std::size_t>(got));
  }
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  for (std::size_t start = 0; start < text.size();) {
    const std::size_t end = text.find('\n', start);
    lines.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  return lines;
}

std::string Numbered(int n) {
  return "line " + std::to_string(n) + std::string(60, '.') + "\n";
}

class NonBlockingOutputTest : public ::testing::TestWithParam<ChannelKind> {
 protected:
  void SetUp() override { MakeChannel(GetParam(), channel); }
  Channel channel;
};

TEST_P(NonBlockingOutputTest, AStalledReaderCostsCountedLinesAndANoteNeverAWait) {
  NonBlockingOutput output(channel.writer, "the test stream", 16 * 1024);
  const auto start = std::chrono::steady_clock::now();
  for (int n = 0; n < 2000; ++n) output.Write(Numbered(n));
  EXPECT_LT(std::chrono::steady_clock::now() - start, 2s);
  ASSERT_GT(output.Dropped(), 0u);
  EXPECT_LE(output.Queued(), 16u * 1024);

  // The reader comes back: everything queued comes out, the note after it,
  // then lines written since.
  std::string text;
  ASSERT_TRUE(testing::SpinUntil([&] {
    text += Drain(channel.reader);
    return output.Queued() == 0;
  }));
  output.Write(Numbered(5000));
  text += Drain(channel.reader);

  const std::vector<std::string> lines = Lines(text);
  const std::size_t kept = 2000 - output.Dropped();
  ASSERT_EQ(lines.size(), kept + 2);
  for (std::size_t n = 0; n < kept; ++n) {
    ASSERT_EQ(lines[n] + "\n", Numbered(static_cast<int>(n))) << n;
  }
  EXPECT_EQ(lines[kept], "quorvane: " + std::to_string(output.Dropped()) +
                             " lines dropped: the test stream not read");
  EXPECT_EQ(lines[kept + 1] + "\n", Numbered(5000));
}

TEST_P(NonBlockingOutputTest, FlushWaitsForTheReaderOnlySoLong) {
  NonBlockingOutput output(channel.writer, "the test stream");
  for (int n = 0; n < 500; ++n) output.Write(Numbered(n));
  ASSERT_GT(output.Queued(), 0u);

  const auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(output.Flush(200ms));
  const auto waited = std::chrono::steady_clock::now() - start;
  EXPECT_GE(waited, 200ms);
  EXPECT_LT(waited, 2s);

  std::string text;
  while (output.Queued() > 0 || text.empty()) {
    text += Drain(channel.reader);
    output.Flush(10ms);
  }
  text += Drain(channel.reader);
  EXPECT_TRUE(output.Flush(0ms));
  EXPECT_EQ(Lines(text).size(), 500u);
}

TEST_P(NonBlockingOutputTest, AReaderGoneForGoodIsNoFailure) {
  std::signal(SIGPIPE, SIG_IGN);  // as the program does
  NonBlockingOutput output(channel.writer, "the test stream");
  ::close(channel.reader);
  channel.reader = -1;
  for (int n = 0; n < 100; ++n) output.Write(Numbered(n));
  EXPECT_EQ(output.Queued(), 0u);
  EXPECT_TRUE(output.Flush(0ms));
}

INSTANTIATE_TEST_SUITE_P(PipeAndSocket, NonBlockingOutputTest,
                         ::testing::Values(ChannelKind::kPipe, ChannelKind::kSocket),
                         [](const auto& info) {
                           return info.param == ChannelKind::kPipe ? "Pipe" : "Socket";
                         });

TEST(NonBlockingOutputPipeTest, LeavesTheSharedDescriptorBlocking) {
  Channel channel;
  MakeChannel(ChannelKind::kPipe, channel);
  const int before = ::fcntl(channel.writer, F_GETFL);
  {
    NonBlockingOutput output(channel.writer, "the test stream");
    for (int n = 0; n < 500; ++n) output.Write(Numbered(n));
    EXPECT_EQ(::fcntl(channel.writer, F_GETFL), before);
  }
  EXPECT_EQ(before & O_NONBLOCK, 0);
}

TEST(NonBlockingOutputPipeTest, TwoOutputsOnOnePipeNeverSplitALine) {
  Channel channel;
  MakeChannel(ChannelKind::kPipe, channel);
  NonBlockingOutput out(channel.writer, "standard output");
  NonBlockingOutput err(channel.writer, "standard error");
  const std::string longLine = std::string(1500, 'o') + "\n";
  const std::string otherLine = std::string(700, 'e') + "\n";
  std::string text;
  // More than the pipe holds at each turn, and taking turns at going first,
  // so that each writes while the other has part of its queue left.
  for (int n = 0; n < 100; ++n) {
    for (int line = 0; line < 4; ++line)
      (n % 2 == 0 ? out : err).Write(n % 2 == 0 ? longLine : otherLine);
    for (int line = 0; line < 4; ++line)
      (n % 2 == 0 ? err : out).Write(n % 2 == 0 ? otherLine : longLine);
    text += Drain(channel.reader);
  }
  ASSERT_TRUE(testing::SpinUntil([&] {
    text += Drain(channel.reader);
    return out.Queued() == 0 && err.Queued() == 0;
  }));
  text += Drain(channel.reader);
  for (const std::string& line : Lines(text)) {
    if (line.starts_with("quorvane: ")) continue;
    EXPECT_TRUE(line + "\n" == longLine || line + "\n" == otherLine) << line.substr(0, 40);
  }
}

}  // namespace
}  // namespace quorvane

namespace quorvane {
namespace {

// What a failing descriptor told its owner.
struct FailureLog {
  std::vector<int> failed;
  std::vector<std::uint64_t> recovered;
  NonBlockingOutput::Failures Report() {
    return {[this](int error) { failed.push_back(error); },
            [this](std::uint64_t lost) { recovered.push_back(lost); }};
  }
};

// A full device fails every write: told once, every line counted lost.
TEST(NonBlockingOutputFailureTest, AFullDeviceIsToldOnceAndEveryLineCounted) {
  const int full = ::open("/dev/full", O_WRONLY | O_CLOEXEC);
  if (full < 0) GTEST_SKIP() << "no /dev/full";
  FailureLog log;
  {
    NonBlockingOutput output(full, "the test file");
    output.SetFailureReport(log.Report());
    for (int i = 0; i < 10; ++i) output.Write("line " + std::to_string(i) + "\n");
    EXPECT_EQ(output.Dropped(), 10u);
    EXPECT_EQ(output.Queued(), 0u) << "nothing piles up";
  }
  ::close(full);
  EXPECT_EQ(log.failed, std::vector<int>{ENOSPC});
  EXPECT_TRUE(log.recovered.empty());
}

// A file at the size limit fails with EFBIG (not a signal that ends the
// process); once the limit is raised, writing goes on and the loss is told.
TEST(NonBlockingOutputFailureTest, AFileAtItsSizeLimitRecoversAndTellsTheLoss) {
  char path[] = "/tmp/quorvane-fsize-XXXXXX";
  const int fd = ::mkstemp(path);
  ASSERT_GE(fd, 0);
  ::unlink(path);
  rlimit before{};
  ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &before), 0);
  const auto previous = std::signal(SIGXFSZ, SIG_IGN);
  FailureLog log;
  NonBlockingOutput output(fd, "the test file");
  output.SetFailureReport(log.Report());
  output.Write("first\n");
  rlimit limited = before;
  limited.rlim_cur = 10;
  ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &limited), 0);
  output.Write("cut short\n");  // 4 bytes fit below the limit
  output.Write("lost\n");
  ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &before), 0);
  std::signal(SIGXFSZ, previous);
  output.Write("after\n");

  EXPECT_EQ(log.failed, std::vector<int>{EFBIG});
  EXPECT_EQ(log.recovered, std::vector<std::uint64_t>{2});
  EXPECT_EQ(output.Dropped(), 2u);
  char content[64] = {};
  ASSERT_GT(::pread(fd, content, sizeof content - 1, 0), 0);
  EXPECT_STREQ(content, "first\ncut \nafter\n") << "the cut line is ended before the next";
  ::close(fd);
}

}  // namespace
}  // namespace quorvane
