#include "termination_signals.h"

#include <signal.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>
#include <utility>

namespace quorvane {
namespace {

sigset_t TerminationSet() {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGINT);
  sigaddset(&set, SIGTERM);
  return set;
}

}  // namespace

void TerminationSignals::Block() {
  const sigset_t set = TerminationSet();
  pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

TerminationSignals::TerminationSignals(std::function<void()> onSignal) {
  const sigset_t set = TerminationSet();
  fd_ = ::signalfd(-1, &set, SFD_NONBLOCK | SFD_CLOEXEC);
  if (fd_ < 0) throw std::system_error(errno, std::generic_category(), "signalfd");
  notifier_ = std::make_unique<QSocketNotifier>(fd_, QSocketNotifier::Read);
  QObject::connect(notifier_.get(), &QSocketNotifier::activated, notifier_.get(),
                   [this, onSignal = std::move(onSignal)] {
                     signalfd_siginfo info;
                     while (::read(fd_, &info, sizeof info) == sizeof info) onSignal();
                   });
}

TerminationSignals::~TerminationSignals() {
  notifier_.reset();
  ::close(fd_);
}

}  // namespace quorvane
