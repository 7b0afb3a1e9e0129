#include "platform/loop/epoll_event_dispatcher.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QSocketNotifier>
#include <QTimerEvent>
#include <algorithm>
#include <cerrno>
#include <stdexcept>

namespace quorvane {
namespace {

constexpr int kReadyAtOnce = 64;
constexpr std::uint32_t kWakesRead = EPOLLIN | EPOLLHUP | EPOLLERR | EPOLLRDHUP;
constexpr std::uint32_t kWakesWrite = EPOLLOUT | EPOLLHUP | EPOLLERR;
constexpr std::uint32_t kWakesException = EPOLLPRI;
constexpr std::uint32_t kWakes[3] = {kWakesRead, kWakesWrite, kWakesException};
constexpr std::uint32_t kInterest[3] = {EPOLLIN, EPOLLOUT, EPOLLPRI};

int IndexOf(QSocketNotifier::Type type) {
  switch (type) {
    case QSocketNotifier::Read:
      return 0;
    case QSocketNotifier::Write:
      return 1;
    case QSocketNotifier::Exception:
      return 2;
  }
  return 0;
}

}  // namespace

EpollEventDispatcher::EpollEventDispatcher(QObject* parent)
    : QAbstractEventDispatcher(parent),
      epoll_(::epoll_create1(EPOLL_CLOEXEC)),
      wakeEvent_(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)),
      ready_(kReadyAtOnce) {
  epoll_event wake{.events = EPOLLIN, .data = {.fd = wakeEvent_}};
  if (epoll_ < 0 || wakeEvent_ < 0 || ::epoll_ctl(epoll_, EPOLL_CTL_ADD, wakeEvent_, &wake) != 0) {
    throw std::runtime_error("cannot set up the event loop's epoll");
  }
}

EpollEventDispatcher::~EpollEventDispatcher() {
  ::close(wakeEvent_);
  ::close(epoll_);
}

void EpollEventDispatcher::registerSocketNotifier(QSocketNotifier* notifier) {
  const int fd = static_cast<int>(notifier->socket());
  watched_[fd].notifiers[IndexOf(notifier->type())] = notifier;
  Update(fd);
}

void EpollEventDispatcher::unregisterSocketNotifier(QSocketNotifier* notifier) {
  const int fd = static_cast<int>(notifier->socket());
  const auto found = watched_.find(fd);
  if (found == watched_.end()) return;
  QSocketNotifier*& slot = found->second.notifiers[IndexOf(notifier->type())];
  if (slot == notifier) slot = nullptr;
  Update(fd);
}

void EpollEventDispatcher::Update(int fd) {
  Watched& watched = watched_.at(fd);
  std::uint32_t events = 0;
  for (int type = 0; type < 3; ++type) {
    if (watched.notifiers[type] != nullptr) events |= kInterest[type];
  }
  using In = Watched::In;
  if (events == 0) {
    if (watched.in == In::kEpoll) ::epoll_ctl(epoll_, EPOLL_CTL_DEL, fd, nullptr);
    if (watched.in == In::kAlwaysReady) --alwaysReady_;
    watched_.erase(fd);
    return;
  }
  if (watched.in == In::kAlwaysReady) return;
  epoll_event interest{.events = events, .data = {.fd = fd}};
  const int first = watched.in == In::kEpoll ? EPOLL_CTL_MOD : EPOLL_CTL_ADD;
  if (::epoll_ctl(epoll_, first, fd, &interest) == 0) {
    watched.in = In::kEpoll;
    return;
  }
  // A descriptor closed while watched leaves epoll by itself (MOD finds
  // nothing); one of an earlier life may still be in (ADD finds it).
  if ((errno == ENOENT && ::epoll_ctl(epoll_, EPOLL_CTL_ADD, fd, &interest) == 0) ||
      (errno == EEXIST && ::epoll_ctl(epoll_, EPOLL_CTL_MOD, fd, &interest) == 0)) {
    watched.in = In::kEpoll;
    return;
  }
  const bool regularFile = errno == EPERM;
  if (watched.in == In::kEpoll) ::epoll_ctl(epoll_, EPOLL_CTL_DEL, fd, nullptr);
  if (!regularFile) {
    // Closed already (EBADF): there is nothing to wait for.
    watched.in = In::kNothing;
    return;
  }
  // poll calls a regular file ready for everything, always.
  watched.in = In::kAlwaysReady;
  ++alwaysReady_;
}

void EpollEventDispatcher::registerTimer(int timerId, qint64 interval, Qt::TimerType timerType,
                                         QObject* object) {
  timers_[timerId] = {interval, timerType, object,
                      Clock::now() + std::chrono::milliseconds(interval)};
}

bool EpollEventDispatcher::unregisterTimer(int timerId) {
  return timers_.erase(timerId) > 0;
}

bool EpollEventDispatcher::unregisterTimers(QObject* object) {
  return std::erase_if(timers_,
                       [object](const auto& timer) { return timer.second.object == object; }) > 0;
}

QList<QAbstractEventDispatcher::TimerInfo> EpollEventDispatcher::registeredTimers(
    QObject* object) const {
  QList<TimerInfo> found;
  for (const auto& [id, timer] : timers_) {
    if (timer.object == object) found.push_back({id, static_cast<int>(timer.interval), timer.type});
  }
  return found;
}

int EpollEventDispatcher::remainingTime(int timerId) {
  const auto found = timers_.find(timerId);
  if (found == timers_.end()) return -1;
  const auto left =
      std::chrono::ceil<std::chrono::milliseconds>(found->second.deadline - Clock::now());
  return static_cast<int>(std::max<std::int64_t>(left.count(), 0));
}

void EpollEventDispatcher::wakeUp() {
  if (wakeUpPending_.exchange(true)) return;
  const std::uint64_t one = 1;
  [[maybe_unused]] const auto written = ::write(wakeEvent_, &one, sizeof one);
}

void EpollEventDispatcher::interrupt() {
  interrupted_ = true;
  wakeUp();
}

int EpollEventDispatcher::TimeToNextTimer(Clock::time_point now) const {
  int soonest = -1;
  for (const auto& [id, timer] : timers_) {
    if (timer.running) continue;
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(timer.deadline - now).count();
    const int wait = static_cast<int>(std::clamp<std::int64_t>(left, 0, 24 * 3600 * 1000));
    if (soonest < 0 || wait < soonest) soonest = wait;
  }
  return soonest;
}

bool EpollEventDispatcher::processEvents(QEventLoop::ProcessEventsFlags flags) {
  interrupted_ = false;
  emit awake();
  QCoreApplication::sendPostedEvents();

  const bool mayWait = (flags & QEventLoop::WaitForMoreEvents) && !interrupted_ &&
                       !wakeUpPending_ && alwaysReady_ == 0;
  int timeout = 0;
  if (mayWait) {
    timeout = TimeToNextTimer(Clock::now());
    emit aboutToBlock();
  }
  int count = ::epoll_wait(epoll_, ready_.data(), static_cast<int>(ready_.size()), timeout);
  if (mayWait) emit awake();
  if (count < 0) count = 0;  // EINTR: a signal, handled through the signal descriptor

  bool handled = false;
  const bool sockets = !(flags & QEventLoop::ExcludeSocketNotifiers);
  for (int i = 0; i < count; ++i) {
    const int fd = ready_[static_cast<std::size_t>(i)].data.fd;
    if (fd == wakeEvent_) {
      std::uint64_t wakes = 0;
      [[maybe_unused]] const auto got = ::read(wakeEvent_, &wakes, sizeof wakes);
      wakeUpPending_ = false;
      handled = true;
      continue;
    }
    if (sockets && !interrupted_) {
      handled |= Activate(fd, ready_[static_cast<std::size_t>(i)].events);
    }
  }
  if (sockets && alwaysReady_ > 0 && !interrupted_) handled |= ActivateAlwaysReady();
  if (!(flags & QEventLoop::X11ExcludeTimers) && !interrupted_) handled |= FireTimers();
  return handled;
}

// The notifiers are looked up afresh for each type: a handler may have
// disabled or deleted another notifier of the same descriptor.
bool EpollEventDispatcher::Activate(int fd, std::uint32_t events) {
  bool activated = false;
  for (int type = 0; type < 3; ++type) {
    if ((events & kWakes[type]) == 0) continue;
    const auto found = watched_.find(fd);
    if (found == watched_.end()) return activated;
    QSocketNotifier* notifier = found->second.notifiers[type];
    if (notifier == nullptr) continue;
    QEvent activation(QEvent::SockAct);
    QCoreApplication::sendEvent(notifier, &activation);
    activated = true;
  }
  return activated;
}

bool EpollEventDispatcher::ActivateAlwaysReady() {
  std::vector<int> fds;
  for (const auto& [fd, watched] : watched_) {
    if (watched.in == Watched::In::kAlwaysReady) fds.push_back(fd);
  }
  bool activated = false;
  for (const int fd : fds) activated |= Activate(fd, kWakesRead | kWakesWrite | kWakesException);
  return activated;
}

// Due timers fire in deadline order; each is looked up again before it fires,
// since an earlier one's handler may have stopped it.
bool EpollEventDispatcher::FireTimers() {
  const Clock::time_point now = Clock::now();
  std::vector<std::pair<Clock::time_point, int>> due;
  for (const auto& [id, timer] : timers_) {
    if (!timer.running && timer.deadline <= now) due.emplace_back(timer.deadline, id);
  }
  std::sort(due.begin(), due.end());
  for (const auto& [deadline, id] : due) {
    const auto found = timers_.find(id);
    if (found == timers_.end() || found->second.running) continue;
    Timer& timer = found->second;
    const auto interval = std::chrono::milliseconds(timer.interval);
    if (timer.type == Qt::PreciseTimer) {
      timer.deadline += interval;
      if (timer.deadline <= now) timer.deadline = now + interval;
    } else {
      timer.deadline = now + interval;
    }
    timer.running = true;
    QObject* object = timer.object;
    QTimerEvent event(id);
    QCoreApplication::sendEvent(object, &event);
    if (const auto still = timers_.find(id); still != timers_.end()) still->second.running = false;
  }
  return !due.empty();
}

}  // namespace quorvane
