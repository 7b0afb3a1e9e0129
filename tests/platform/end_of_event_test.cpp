// The end of an event: its sends reach the kernel first, then the lines it
// wrote to standard error or the log file, held until then.
#include "platform/loop/end_of_event.h"

#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <string>

#include "platform/output/non_blocking_output.h"

namespace quorvane {
namespace {

struct Pipe {
  int ends[2] = {-1, -1};
  Pipe() { EXPECT_EQ(::pipe2(ends, O_NONBLOCK), 0); }
  ~Pipe() {
    ::close(ends[0]);
    ::close(ends[1]);
  }
  // What the reader's end holds now.
  std::string Drain() const {
    std::string text;
    char buffer[4096];
    for (ssize_t got; (got = ::read(ends[0], buffer, sizeof buffer)) > 0;) {
      text.append(buffer, static_cast<std::size_t>(got));
    }
    return text;
  }
};

// A connection that, when flushed, notes what the log's reader had by then.
class Connection : public PendingOutput {
 public:
  explicit Connection(const Pipe& log) : log_(log) {}
  void Flush() override { seenAtSend = log_.Drain(); }
  std::string seenAtSend = "not flushed";

 private:
  const Pipe& log_;
};

TEST(EndOfEventTest, AnEventsLinesFollowItsSends) {
  Pipe log;
  NonBlockingOutput output(log.ends[1], "the test log");
  Connection connection(log);
  {
    const EventScope event;
    output.Write("slot 1 accepted\n");
    FlushAtEndOfEvent(connection);
    {
      const EventScope nested;
      output.Write("slot 1 logged in\n");
    }
    EXPECT_EQ(log.Drain(), "");
  }
  EXPECT_EQ(connection.seenAtSend, "");
  EXPECT_EQ(log.Drain(), "slot 1 accepted\nslot 1 logged in\n");

  output.Write("outside any event\n");
  EXPECT_EQ(log.Drain(), "outside any event\n");
}

TEST(EndOfEventTest, AnOutputGoneDuringTheEventWritesWhatItHeld) {
  Pipe log;
  NonBlockingOutput kept(log.ends[1], "kept");
  {
    const EventScope event;
    {
      NonBlockingOutput reopened(log.ends[1], "reopened");
      reopened.Write("written when it goes\n");
    }
    kept.Write("written at the end\n");
    EXPECT_EQ(log.Drain(), "written when it goes\n");
  }
  EXPECT_EQ(log.Drain(), "written at the end\n");
}

}  // namespace
}  // namespace quorvane
