#include "socket_options.h"

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

namespace quorvane {
namespace {

void SetTcpOption(qintptr descriptor, int option, int value) {
  ::setsockopt(static_cast<int>(descriptor), IPPROTO_TCP, option, &value, sizeof value);
}

}  // namespace

void EnableKeepAlive(QTcpSocket& socket) {
  socket.setSocketOption(QAbstractSocket::KeepAliveOption, 1);
  const qintptr descriptor = socket.socketDescriptor();
  if (descriptor < 0) return;
  SetTcpOption(descriptor, TCP_KEEPIDLE, static_cast<int>(kKeepAliveIdle.count()));
  SetTcpOption(descriptor, TCP_KEEPINTVL, static_cast<int>(kKeepAliveInterval.count()));
  SetTcpOption(descriptor, TCP_KEEPCNT, kKeepAliveProbes);
  SetTcpOption(descriptor, TCP_USER_TIMEOUT, static_cast<int>(kUnacknowledgedTimeout.count()));
}

void ResetOnClose(QTcpSocket& socket) {
  const qintptr descriptor = socket.socketDescriptor();
  if (descriptor < 0) return;
  const linger discard{1, 0};
  ::setsockopt(static_cast<int>(descriptor), SOL_SOCKET, SO_LINGER, &discard, sizeof discard);
}

}  // namespace quorvane
