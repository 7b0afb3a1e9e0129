// The epoll event loop keeps Qt's semantics: level-triggered notifiers that
// survive each other's handlers, regular files always ready, timers in
// deadline order that never re-enter, posted events and wake-ups from other
// threads.
#include "platform/loop/epoll_event_dispatcher.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QSocketNotifier>
#include <QTimer>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "spin.h"

namespace quorvane {
namespace {

using namespace std::chrono_literals;
using testing::SpinFor;
using testing::SpinUntil;

struct SocketPair {
  int ends[2] = {-1, -1};
  SocketPair() { EXPECT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK, 0, ends), 0); }
  ~SocketPair() {
    for (const int fd : ends) {
      if (fd >= 0) ::close(fd);
    }
  }
  void Send(const char* text) const { ASSERT_GT(::write(ends[1], text, 1), 0); }
};

// The passes the loop makes in `span` with nothing to do but wait: a few
// when it waits, thousands when it spins.
int PassesIn(std::chrono::milliseconds span) {
  int passes = 0;
  QEventLoop loop;
  const auto counting = QObject::connect(QAbstractEventDispatcher::instance(),
                                         &QAbstractEventDispatcher::awake, [&] { ++passes; });
  QTimer::singleShot(span, &loop, &QEventLoop::quit);
  loop.exec();
  QObject::disconnect(counting);
  return passes;
}
constexpr int kWaitingPasses = 20;

TEST(EpollEventDispatcherTest, IsTheLoopTheseTestsRunOn) {
  EXPECT_NE(dynamic_cast<EpollEventDispatcher*>(QAbstractEventDispatcher::instance()), nullptr);
}

TEST(EpollEventDispatcherTest, AReadNotifierFiresWhileBytesWaitAndNotOnceDisabled) {
  SocketPair pair;
  QSocketNotifier readable(pair.ends[0], QSocketNotifier::Read);
  int fired = 0;
  QObject::connect(&readable, &QSocketNotifier::activated, [&] { ++fired; });
  SpinFor(20ms);
  EXPECT_EQ(fired, 0);

  pair.Send("x");
  ASSERT_TRUE(SpinUntil([&] { return fired >= 2; })) << "level-triggered: fires until read";
  readable.setEnabled(false);
  const int before = fired;
  SpinFor(20ms);
  EXPECT_EQ(fired, before);
  readable.setEnabled(true);
  EXPECT_TRUE(SpinUntil([&] { return fired > before; }));
}

TEST(EpollEventDispatcherTest, ReadAndWriteNotifiersShareADescriptor) {
  SocketPair pair;
  QSocketNotifier readable(pair.ends[0], QSocketNotifier::Read);
  QSocketNotifier writable(pair.ends[0], QSocketNotifier::Write);
  bool wrote = false;
  bool read = false;
  QObject::connect(&writable, &QSocketNotifier::activated, [&] {
    wrote = true;
    writable.setEnabled(false);
  });
  QObject::connect(&readable, &QSocketNotifier::activated, [&] {
    char byte;
    if (::read(pair.ends[0], &byte, 1) == 1) read = true;
  });
  ASSERT_TRUE(SpinUntil([&] { return wrote; }));
  pair.Send("x");
  EXPECT_TRUE(SpinUntil([&] { return read; })) << "the write notifier's going kept the read one";
}

// Readable and writable in the same pass: the read handler goes first and
// deletes the write notifier, which must then not be activated.
TEST(EpollEventDispatcherTest, AHandlerMayDeleteTheOtherNotifierOfItsDescriptor) {
  SocketPair pair;
  pair.Send("x");
  auto readable = std::make_unique<QSocketNotifier>(pair.ends[0], QSocketNotifier::Read);
  auto writable = std::make_unique<QSocketNotifier>(pair.ends[0], QSocketNotifier::Write);
  int reads = 0;
  QObject::connect(readable.get(), &QSocketNotifier::activated, [&] {
    ++reads;
    writable.reset();
  });
  QObject::connect(writable.get(), &QSocketNotifier::activated, [&] { ADD_FAILURE(); });
  ASSERT_TRUE(SpinUntil([&] { return reads > 0; }));
  readable.reset();
  SpinFor(10ms);
}

TEST(EpollEventDispatcherTest, AHangUpWakesTheReadNotifier) {
  SocketPair pair;
  QSocketNotifier readable(pair.ends[0], QSocketNotifier::Read);
  bool ended = false;
  QObject::connect(&readable, &QSocketNotifier::activated, [&] {
    char byte;
    if (::read(pair.ends[0], &byte, 1) == 0) {
      ended = true;
      readable.setEnabled(false);
    }
  });
  ::close(pair.ends[1]);
  pair.ends[1] = -1;
  EXPECT_TRUE(SpinUntil([&] { return ended; }));
}

// A console whose input is a file: epoll refuses regular files, poll calls
// them ready.
TEST(EpollEventDispatcherTest, ARegularFileIsAlwaysReady) {
  char path[] = "/tmp/quorvane-epoll-XXXXXX";
  const int fd = ::mkstemp(path);
  ASSERT_GE(fd, 0);
  ::unlink(path);
  ASSERT_EQ(::write(fd, "say hello\n", 10), 10);
  ::lseek(fd, 0, SEEK_SET);
  std::string read;
  bool atEnd = false;
  {
    QSocketNotifier readable(fd, QSocketNotifier::Read);
    QObject::connect(&readable, &QSocketNotifier::activated, [&] {
      char buffer[4];
      const ssize_t got = ::read(fd, buffer, sizeof buffer);
      if (got > 0) read.append(buffer, static_cast<std::size_t>(got));
      if (got == 0) {
        atEnd = true;
        readable.setEnabled(false);
      }
    });
    EXPECT_TRUE(SpinUntil([&] { return atEnd; }));
  }
  EXPECT_EQ(read, "say hello\n");
  EXPECT_LT(PassesIn(30ms), kWaitingPasses) << "with it gone, the loop waits again";
  ::close(fd);
}

// A descriptor closed before its notifier is enabled has nothing to wait
// for: the notifier never fires, and the loop still waits.
TEST(EpollEventDispatcherTest, ANotifierOnAClosedDescriptorStaysQuiet) {
  int fd = -1;
  {
    SocketPair pair;
    fd = pair.ends[0];
  }
  QSocketNotifier readable(fd, QSocketNotifier::Read);
  bool fired = false;
  QObject::connect(&readable, &QSocketNotifier::activated, [&] { fired = true; });
  EXPECT_LT(PassesIn(30ms), kWaitingPasses) << "the loop spins";
  EXPECT_FALSE(fired);
  readable.setEnabled(false);
}

TEST(EpollEventDispatcherTest, TimersFireInDeadlineOrderNeverEarly) {
  std::vector<int> order;
  QElapsedTimer clock;
  clock.start();
  qint64 firstAt = -1;
  QTimer::singleShot(40ms, [&] { order.push_back(40); });
  QTimer::singleShot(10ms, [&] {
    firstAt = clock.elapsed();
    order.push_back(10);
  });
  QTimer::singleShot(25ms, Qt::PreciseTimer, [&] { order.push_back(25); });
  ASSERT_TRUE(SpinUntil([&] { return order.size() == 3; }));
  EXPECT_EQ(order, (std::vector<int>{10, 25, 40}));
  EXPECT_GE(firstAt, 10);
}

TEST(EpollEventDispatcherTest, ATimerStoppedByAnEarlierOnesHandlerDoesNotFire) {
  QTimer later;
  later.setSingleShot(true);
  bool laterFired = false;
  QObject::connect(&later, &QTimer::timeout, [&] { laterFired = true; });
  later.start(5ms);
  bool stopped = false;
  QTimer::singleShot(1ms, [&] {
    later.stop();
    stopped = true;
  });
  // Both are due by the time the loop first looks.
  std::this_thread::sleep_for(10ms);
  ASSERT_TRUE(SpinUntil([&] { return stopped; }));
  SpinFor(20ms);
  EXPECT_FALSE(laterFired);
}

TEST(EpollEventDispatcherTest, ARepeatingTimerDoesNotReenterItsRunningHandler) {
  QTimer repeating;
  repeating.setInterval(1ms);
  int depth = 0;
  int deepest = 0;
  int runs = 0;
  QObject::connect(&repeating, &QTimer::timeout, [&] {
    ++runs;
    deepest = std::max(deepest, ++depth);
    if (runs == 1) SpinFor(20ms);  // a nested loop inside the handler
    --depth;
  });
  repeating.start();
  ASSERT_TRUE(SpinUntil([&] { return runs >= 3; }));
  repeating.stop();
  EXPECT_EQ(deepest, 1);
}

TEST(EpollEventDispatcherTest, KnowsItsTimers) {
  QObject owner;
  const int id = owner.startTimer(500ms, Qt::CoarseTimer);
  auto* dispatcher = QAbstractEventDispatcher::instance();
  const auto timers = dispatcher->registeredTimers(&owner);
  ASSERT_EQ(timers.size(), 1);
  EXPECT_EQ(timers.front().timerId, id);
  EXPECT_EQ(timers.front().interval, 500);
  const int left = dispatcher->remainingTime(id);
  EXPECT_GT(left, 400);
  EXPECT_LE(left, 500);
  owner.killTimer(id);
  EXPECT_EQ(dispatcher->remainingTime(id), -1);
  EXPECT_TRUE(dispatcher->registeredTimers(&owner).isEmpty());
}

// A loop blocked with nothing due wakes for an event posted from elsewhere.
TEST(EpollEventDispatcherTest, AnEventPostedFromAnotherThreadWakesTheWait) {
  QEventLoop loop;
  std::thread poster([&loop] {
    std::this_thread::sleep_for(20ms);
    QMetaObject::invokeMethod(&loop, &QEventLoop::quit, Qt::QueuedConnection);
  });
  QTimer::singleShot(5s, &loop, [&loop] { loop.exit(1); });
  EXPECT_EQ(loop.exec(), 0);
  poster.join();
}

TEST(EpollEventDispatcherTest, EventsPostedByAHandlerRunOnTheNextPass) {
  std::vector<int> order;
  QMetaObject::invokeMethod(
      QCoreApplication::instance(),
      [&] {
        order.push_back(1);
        QMetaObject::invokeMethod(
            QCoreApplication::instance(), [&] { order.push_back(2); }, Qt::QueuedConnection);
      },
      Qt::QueuedConnection);
  EXPECT_TRUE(SpinUntil([&] { return order.size() == 2; }));
}

}  // namespace
}  // namespace quorvane
