// The headless server's event loop on epoll. Qt's own loop on Linux polls
// every descriptor it watches at each wait and then tears the waits down
// again: with two players, the listener, the signal and data folder
// descriptors and its own wake-up, that is half a microsecond of every ping
// and login. epoll keeps the interest list in the kernel and hands back only
// what is ready.
//
// Semantics are Qt's: socket notifiers are level-triggered (an error or hang-up
// wakes the read and the write notifier), a notifier on a descriptor epoll
// refuses (a regular file) counts as always ready, as poll has it; timers fire
// in deadline order, a precise timer keeps its phase and the others restart
// from the time they fired, and a timer does not fire again while its own
// handler is running; posted events are sent at the start of each pass.
#pragma once

#include <sys/epoll.h>

#include <QAbstractEventDispatcher>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <map>
#include <vector>

namespace quorvane {

class EpollEventDispatcher final : public QAbstractEventDispatcher {
 public:
  explicit EpollEventDispatcher(QObject* parent = nullptr);
  ~EpollEventDispatcher() override;

  bool processEvents(QEventLoop::ProcessEventsFlags flags) override;

  void registerSocketNotifier(QSocketNotifier* notifier) override;
  void unregisterSocketNotifier(QSocketNotifier* notifier) override;

  void registerTimer(int timerId, qint64 interval, Qt::TimerType timerType,
                     QObject* object) override;
  bool unregisterTimer(int timerId) override;
  bool unregisterTimers(QObject* object) override;
  QList<TimerInfo> registeredTimers(QObject* object) const override;
  int remainingTime(int timerId) override;

  void wakeUp() override;
  void interrupt() override;

 private:
  using Clock = std::chrono::steady_clock;

  // The notifiers of one descriptor, by type: read, write, exception.
  struct Watched {
    QSocketNotifier* notifiers[3] = {nullptr, nullptr, nullptr};
    enum class In { kNothing, kEpoll, kAlwaysReady } in = In::kNothing;
  };

  struct Timer {
    qint64 interval;
    Qt::TimerType type;
    QObject* object;
    Clock::time_point deadline;
    bool running = false;  // its handler is on the stack
  };

  // Tells epoll what `fd`'s notifiers now wait for; forgets it when none.
  void Update(int fd);
  // Milliseconds to the next timer's deadline; -1 with none.
  int TimeToNextTimer(Clock::time_point now) const;
  // Each returns whether it activated anything.
  bool Activate(int fd, std::uint32_t events);
  bool ActivateAlwaysReady();
  bool FireTimers();

  int epoll_;
  int wakeEvent_;
  std::atomic<bool> wakeUpPending_{false};
  std::atomic<bool> interrupted_{false};
  std::map<int, Watched> watched_;
  int alwaysReady_ = 0;  // descriptors epoll refused, such as regular files
  std::map<int, Timer> timers_;
  std::vector<epoll_event> ready_;
};

}  // namespace quorvane
