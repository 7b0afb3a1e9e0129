#include "process_signals.h"

#include <signal.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>
#include <utility>

#include "platform/loop/guarded.h"

namespace quorvane {
namespace {

sigset_t HandledSet() {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGINT);
  sigaddset(&set, SIGTERM);
  sigaddset(&set, SIGHUP);
  return set;
}

}  // namespace

void ProcessSignals::Block() {
  const sigset_t set = HandledSet();
  pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

ProcessSignals::ProcessSignals(Handlers handlers) : handlers_(std::move(handlers)) {
  const sigset_t set = HandledSet();
  fd_ = ::signalfd(-1, &set, SFD_NONBLOCK | SFD_CLOEXEC);
  if (fd_ < 0) throw std::system_error(errno, std::generic_category(), "signalfd");
  notifier_ = std::make_unique<QSocketNotifier>(fd_, QSocketNotifier::Read);
  QObject::connect(notifier_.get(), &QSocketNotifier::activated, notifier_.get(), [this] {
    signalfd_siginfo info;
    while (::read(fd_, &info, sizeof info) == sizeof info) {
      const int signal = static_cast<int>(info.ssi_signo);
      RunGuarded("a signal", [&] {
        if (signal == SIGHUP) {
          if (handlers_.hangUp) handlers_.hangUp();
        } else if (handlers_.terminate) {
          handlers_.terminate(signal);
        }
      });
    }
  });
}

ProcessSignals::~ProcessSignals() {
  notifier_.reset();
  ::close(fd_);
}

}  // namespace quorvane
