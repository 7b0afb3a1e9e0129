// The program's parts put together: Form1 with its listener, its two slots'
// sockets and its timer on Qt, and a log box chosen by the caller.
#pragma once

#include <QString>
#include <QTimer>

#include "form1.h"
#include "generator.h"
#include "kelvane.hpp"
#include "qt_listener.h"
#include "qt_socket_control.h"
#include "server_options.h"
#include "text_box.h"

namespace quorvane {

class Server {
 public:
  // `cipher` and `log` must outlive the server.
  Server(const ServerOptions& options, const kelvane::Api& cipher, TextBox& log);
  Server(const Server&) = delete;
  Server& operator=(const Server&) = delete;

  // Loads the form (bind and listen) and starts Timer1. Throws
  // std::runtime_error "cannot listen on ADDR:PORT: reason".
  void Start();

  // "ADDR:PORT" being listened on.
  QString Endpoint() const { return listener_.Endpoint(); }

 private:
  QtListener listener_;
  QtSocketControl socket1_;
  QtSocketControl socket2_;
  Generator generator_;
  Form1 form_;
  QTimer timer1_;
};

}  // namespace quorvane
