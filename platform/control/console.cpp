#include "platform/control/console.h"

#include <unistd.h>

#include <cerrno>

#include "platform/loop/guarded.h"

namespace quorvane {

Console::Console(int fd, Handler handler, std::function<void(std::string_view)> write)
    : fd_(fd),
      handler_(std::move(handler)),
      write_(std::move(write)),
      self_{static_cast<unsigned>(::getuid()), "console"},
      notifier_(std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Read)) {
  QObject::connect(notifier_.get(), &QSocketNotifier::activated, notifier_.get(),
                   [this] { RunGuarded("a console command", [this] { Read(); }); });
}

Console::~Console() = default;

// One read per readiness, so that the descriptor may stay blocking (it is
// shared with whatever started the server) and the read still never waits.
void Console::Read() {
  char buffer[4096];
  const ssize_t got = ::read(fd_, buffer, sizeof buffer);
  if (got < 0 && (errno == EINTR || errno == EAGAIN)) return;
  if (got <= 0) {
    notifier_->setEnabled(false);
    return;
  }
  pending_.append(buffer, got);
  for (qsizetype end = pending_.indexOf('\n'); end >= 0; end = pending_.indexOf('\n')) {
    const QByteArray line = pending_.left(end);
    pending_.remove(0, end + 1);
    if (std::exchange(skipping_, false)) continue;
    write_(
        handler_(std::string_view(line.constData(), static_cast<std::size_t>(line.size())), self_));
  }
  if (pending_.size() > kMaxLineBytes) {
    pending_.clear();
    if (!std::exchange(skipping_, true)) {
      write_("error the line is longer than " + std::to_string(kMaxLineBytes) + " bytes\n\n");
    }
  }
}

}  // namespace quorvane
