#include "socket_options.h"

#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

namespace quorvane {
namespace {

void SetOption(int descriptor, int level, int option, int value) {
  ::setsockopt(descriptor, level, option, &value, sizeof value);
}

}  // namespace

void MakeNonBlocking(int descriptor) {
  const int flags = ::fcntl(descriptor, F_GETFL);
  if (flags >= 0 && (flags & O_NONBLOCK) == 0) ::fcntl(descriptor, F_SETFL, flags | O_NONBLOCK);
}

void EnableLowDelay(int descriptor) {
  SetOption(descriptor, IPPROTO_TCP, TCP_NODELAY, 1);
}

void EnableKeepAlive(int descriptor) {
  SetOption(descriptor, SOL_SOCKET, SO_KEEPALIVE, 1);
  SetOption(descriptor, IPPROTO_TCP, TCP_KEEPIDLE, static_cast<int>(kKeepAliveIdle.count()));
  SetOption(descriptor, IPPROTO_TCP, TCP_KEEPINTVL, static_cast<int>(kKeepAliveInterval.count()));
  SetOption(descriptor, IPPROTO_TCP, TCP_KEEPCNT, kKeepAliveProbes);
  SetOption(descriptor, IPPROTO_TCP, TCP_USER_TIMEOUT,
            static_cast<int>(kUnacknowledgedTimeout.count()));
}

void ResetOnClose(int descriptor) {
  const linger discard{1, 0};
  ::setsockopt(descriptor, SOL_SOCKET, SO_LINGER, &discard, sizeof discard);
}

}  // namespace quorvane
