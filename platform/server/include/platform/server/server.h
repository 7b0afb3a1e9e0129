// The program's parts put together: Form1 with its listener, its slots'
// sockets and its clock on Qt, the data folder (cached while change
// notifications are to be had), and a log box chosen by the caller.
#pragma once

#include <QString>
#include <array>
#include <filesystem>
#include <memory>
#include <utility>

#include "host/ban_file.h"
#include "host/form1.h"
#include "host/host_operator.h"
#include "host/server_status.h"
#include "host/text_box.h"
#include "kelvane.hpp"
#include "platform/loop/qt_clock.h"
#include "platform/net/qt_listener.h"
#include "platform/net/qt_socket_control.h"
#include "platform/options/server_options.h"
#include "session/data_files.h"
#include "session/generator.h"

namespace quorvane {

class Server {
 public:
  // `cipher` and `log` must outlive the server.
  Server(const ServerOptions& options, const kelvane::Api& cipher, TextBox& log);
  Server(const Server&) = delete;
  Server& operator=(const Server&) = delete;

  // Resolves the addresses to listen on, then loads the form: bind, listen,
  // start Timer1. Throws std::runtime_error "cannot listen on ADDR:PORT:
  // reason" (or on the host name that resolved to nothing).
  void Start();

  // Takes the settings that can change while the server runs (the welcome
  // line, the allowed and denied ranges); returns the names of those that differ but wait for a
  // restart.
  QStringList Reload(const ServerOptions& options);

  // "ADDR:PORT, ..." being listened on.
  QString Endpoint() const { return listener_.Endpoint(); }
  // Why each address that could not be listened on was passed over.
  const QStringList& SkippedAddresses() const { return listener_.Skipped(); }
  bool Listening() const { return listener_.Listening(); }
  // `observer` hears of every connection event until the server goes; it
  // must outlive the server.
  void AddObserver(ConnectionObserver& observer) { form_.AddObserver(observer); }
  // Listening and not counting down to the end: what /health reports.
  bool Serving() const { return Listening() && !draining_; }
  // What the operator sees: slots, NPCs, counters, bans, commands.
  ServerSnapshot Snapshot() const;

  // What the shutdown tells the program: it has begun draining, it was
  // cancelled, the end has come.
  struct Lifecycle {
    std::function<void()> draining;
    std::function<void()> resumed;
    std::function<void()> end;
  };
  void SetLifecycle(Lifecycle lifecycle) { lifecycle_ = std::move(lifecycle); }
  HostOperator& Operator() { return operator_; }
  // Reads the ban file, when there is one, into the operator's bans; what
  // is wrong (the file and line) when it could not, the bans then unchanged.
  QString LoadBans();

 private:
  using Sockets = std::array<std::unique_ptr<QtSocketControl>, kSlotCount>;
  static Sockets MakeSockets(QtListener& listener);
  template <std::size_t... Slot>
  Form1::Controls ControlsFor(TextBox& log, std::index_sequence<Slot...>);

  ServerOptions options_;
  QtListener listener_;
  Sockets sockets_;
  QtClock clock_;
  Generator generator_;
  std::unique_ptr<DataFolder> data_;
  Form1 form_;
  FormStatusSource statusSource_{form_};
  ServerStatus status_{statusSource_, clock_};
  std::unique_ptr<BanFile> banFile_;
  Lifecycle lifecycle_;
  bool draining_ = false;
  HostOperator operator_;
};

}  // namespace quorvane
