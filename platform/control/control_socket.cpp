#include "platform/control/control_socket.h"

#include <pwd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <QLocalSocket>
#include <QTimer>
#include <cerrno>
#include <cstring>
#include <stdexcept>

#include "platform/loop/guarded.h"

namespace quorvane {
namespace {

std::string Failure(const QString& path, const std::string& why) {
  return "cannot serve the control socket " + path.toStdString() + ": " + why;
}

// Whether a server accepts connections on the socket file at `path`.
bool Answers(const QString& path) {
  const QByteArray name = path.toLocal8Bit();
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (static_cast<std::size_t>(name.size()) >= sizeof address.sun_path) return false;
  std::memcpy(address.sun_path, name.constData(), static_cast<std::size_t>(name.size()));
  const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (fd < 0) return false;
  // A Unix socket connects or fails at once; a full backlog (EAGAIN) is a
  // live server too.
  const int result = ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address);
  const bool answers = result == 0 || errno == EAGAIN;
  ::close(fd);
  return answers;
}

Operator PeerOf(qintptr descriptor) {
  Operator peer;
  ucred credentials{};
  socklen_t size = sizeof credentials;
  if (::getsockopt(static_cast<int>(descriptor), SOL_SOCKET, SO_PEERCRED, &credentials, &size) !=
      0) {
    peer.uid = static_cast<unsigned>(-1);
    peer.user = "unknown";
    return peer;
  }
  peer.uid = credentials.uid;
  passwd entry{};
  passwd* found = nullptr;
  char buffer[1024];
  if (::getpwuid_r(credentials.uid, &entry, buffer, sizeof buffer, &found) == 0 &&
      found != nullptr) {
    peer.user = found->pw_name;
  } else {
    peer.user = "uid" + std::to_string(credentials.uid);
  }
  return peer;
}

}  // namespace

// One client: its partial line, its deadline, its credentials.
class ControlSocket::Connection : public QObject {
 public:
  Connection(ControlSocket& owner, QLocalSocket* socket)
      : owner_(owner), socket_(socket), peer_(PeerOf(socket->socketDescriptor())) {
    socket_->setParent(this);
    deadline_.setSingleShot(true);
    QObject::connect(&deadline_, &QTimer::timeout, this, [this] {
      RunGuarded("a control connection's deadline", [this] {
        Finish("error too slow: a command must come whole within the deadline\n\n");
      });
    });
    QObject::connect(socket_, &QLocalSocket::readyRead, this,
                     [this] { RunGuarded("a control command", [this] { Read(); }); });
    QObject::connect(socket_, &QLocalSocket::disconnected, this, [this] { Gone(); });
    QObject::connect(socket_, &QLocalSocket::bytesWritten, this, [this] {
      if (closing_ && socket_->bytesToWrite() == 0) socket_->disconnectFromServer();
    });
    deadline_.start(owner_.limits_.lineDeadline);
  }

 private:
  void Read() {
    if (closing_) {
      socket_->readAll();
      return;
    }
    pending_ += socket_->read(owner_.limits_.maxLineBytes + 1 - pending_.size());
    for (qsizetype end = pending_.indexOf('\n'); end >= 0 && !closing_;
         end = pending_.indexOf('\n')) {
      const QByteArray line = pending_.left(end);
      pending_.remove(0, end + 1);
      Send(owner_.handler_(
          std::string_view(line.constData(), static_cast<std::size_t>(line.size())), peer_));
      deadline_.start(owner_.limits_.lineDeadline);
    }
    if (pending_.size() > owner_.limits_.maxLineBytes) {
      Finish("error the line is longer than " + std::to_string(owner_.limits_.maxLineBytes) +
             " bytes\n\n");
      return;
    }
    // What is left waits for the next arrival, which a full read leaves in
    // the socket.
    if (socket_->bytesAvailable() > 0 && !closing_) {
      QTimer::singleShot(0, this, [this] { RunGuarded("a control command", [this] { Read(); }); });
    }
  }

  void Send(const std::string& answer) {
    socket_->write(answer.data(), static_cast<qint64>(answer.size()));
    if (socket_->bytesToWrite() > owner_.limits_.maxUnsentBytes) socket_->abort();
  }

  // The last answer, then the end once it has gone.
  void Finish(const std::string& answer) {
    closing_ = true;
    deadline_.stop();
    Send(answer);
    if (socket_->state() == QLocalSocket::ConnectedState && socket_->bytesToWrite() == 0) {
      socket_->disconnectFromServer();
    }
    // One that never reads its last answer goes anyway.
    QTimer::singleShot(owner_.limits_.lineDeadline, this, [this] { socket_->abort(); });
  }

  void Gone() {
    if (std::exchange(gone_, true)) return;
    --owner_.connections_;
    deleteLater();
  }

  ControlSocket& owner_;
  QLocalSocket* socket_;
  Operator peer_;
  QByteArray pending_;
  QTimer deadline_;
  bool closing_ = false;
  bool gone_ = false;
};

ControlSocket::ControlSocket(Handler handler, Limits limits)
    : handler_(std::move(handler)), limits_(limits) {
  server_.setSocketOptions(QLocalServer::UserAccessOption | QLocalServer::GroupAccessOption);
  QObject::connect(&server_, &QLocalServer::newConnection, &server_,
                   [this] { RunGuarded("a control connection", [this] { Accept(); }); });
}

ControlSocket::~ControlSocket() {
  server_.close();
}

void ControlSocket::Listen(const QString& path) {
  struct stat info {};
  if (::lstat(path.toLocal8Bit().constData(), &info) == 0) {
    if (!S_ISSOCK(info.st_mode))
      throw std::runtime_error(Failure(path, "it exists and is no socket"));
    if (Answers(path)) {
      throw std::runtime_error(Failure(path, "another server is listening on it"));
    }
    QLocalServer::removeServer(path);
  }
  if (!server_.listen(path)) {
    throw std::runtime_error(Failure(path, server_.errorString().toStdString()));
  }
  ::chmod(path.toLocal8Bit().constData(), 0660);
}

void ControlSocket::Accept() {
  while (QLocalSocket* socket = server_.nextPendingConnection()) {
    if (connections_ >= limits_.maxConnections) {
      socket->abort();
      socket->deleteLater();
      continue;
    }
    ++connections_;
    (new Connection(*this, socket))->setParent(&server_);
  }
}

}  // namespace quorvane
