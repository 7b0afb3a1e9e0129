// The control socket: a Unix stream socket, mode 0660, on which local
// operators send command lines (see CommandDesk) and read the answers. Its
// file permissions are its only access control; each peer is named by its
// credentials (SO_PEERCRED). Every connection is bounded: so many at once, a
// line of so many bytes, so long to send each command, so many answer bytes
// left unread; past any bound it is closed, and the event thread never
// waits on it.
#pragma once

#include <QLocalServer>
#include <QString>
#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "host/operator_actions.h"

namespace quorvane {

class ControlSocket {
 public:
  struct Limits {
    int maxConnections = 8;
    qsizetype maxLineBytes = 4096;
    // A connection must send each whole command line within this.
    std::chrono::milliseconds lineDeadline{10000};
    qint64 maxUnsentBytes = 1024 * 1024;
  };
  // The answer, framed, to a command line from `by`.
  using Handler = std::function<std::string(std::string_view line, const Operator& by)>;

  ControlSocket(Handler handler, Limits limits);
  explicit ControlSocket(Handler handler) : ControlSocket(std::move(handler), Limits{}) {}
  ControlSocket(const ControlSocket&) = delete;
  ControlSocket& operator=(const ControlSocket&) = delete;
  ~ControlSocket();

  // Listens on `path`, taking over a stale socket file there; throws
  // std::runtime_error when a server answers on it already, or the path is
  // not a socket, or it cannot listen.
  void Listen(const QString& path);

 private:
  class Connection;
  void Accept();

  Handler handler_;
  Limits limits_;
  QLocalServer server_;
  int connections_ = 0;
};

}  // namespace quorvane
