// quorvane: the map server. Loads the cipher library, then runs Form1 on one
// Qt event thread, in a window or headless.
#include <unistd.h>
#include <QApplication>
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <chrono>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <optional>
#include <stdexcept>

#include "host/empty_map_watch.h"
#include "host/player_roster.h"
#include "kelvane.hpp"
#include "platform/agones/agones_port.h"
#include "platform/agones/agones_sdk.h"
#include "platform/control/command_desk.h"
#include "platform/control/console.h"
#include "platform/control/control_socket.h"
#include "platform/loop/epoll_event_dispatcher.h"
#include "platform/loop/qt_clock.h"
#include "platform/monitoring/http_endpoint.h"
#include "platform/options/server_options.h"
#include "platform/output/log_file.h"
#include "platform/output/non_blocking_output.h"
#include "platform/output/qt_messages.h"
#include "platform/output/stderr_report.h"
#include "platform/output/stdout_log_box.h"
#include "platform/server/cipher_library.h"
#include "platform/server/server.h"
#include "platform/window/plain_text_log_box.h"
#include "platform/window/server_window.h"
#include "process_signals.h"
#include "service_manager.h"

namespace {

using quorvane::Severity;

void PrintTo(std::FILE* stream, const QString& text) {
  std::fputs(text.toLocal8Bit().constData(), stream);
  std::fflush(stream);
}

// A line for the operator on standard error once the server runs, stamped
// with the time and level like the diagnostics, whose queue that never blocks
// it shares, and in the log file.
void Tell(Severity severity, const QString& text) {
  quorvane::ReportProgramLine(severity, text.toLocal8Bit().toStdString());
}

// An error that ends the start, as programs write theirs: "quorvane: text".
void Fail(const QString& text) {
  quorvane::ReportStartFailure(("quorvane: " + text).toLocal8Bit().toStdString());
}

// What is still queued for standard output and error gets this long to go out
// when the program ends.
constexpr std::chrono::seconds kExitFlushTime{2};

struct FlushAtExit {
  FlushAtExit() = default;
  FlushAtExit(const FlushAtExit&) = delete;
  FlushAtExit& operator=(const FlushAtExit&) = delete;
  ~FlushAtExit() { quorvane::FlushStandardStreams(kExitFlushTime); }
};

bool EnvironmentHas(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr && *value != '\0';
}

// A platform named in QT_QPA_PLATFORM (offscreen, for one) needs no display.
bool HasDisplay() {
  return EnvironmentHas("DISPLAY") || EnvironmentHas("WAYLAND_DISPLAY") ||
         EnvironmentHas("QT_QPA_PLATFORM");
}

// How long the end of the program waits for Agones to take the shutdown call.
constexpr std::chrono::seconds kAgonesShutdownTime{3};

// The program's orderly end, whichever way it came (a signal, an empty map):
// Agones hears of it, within a bound, then the event loop stops and main
// returns 0.
void EndProgram(quorvane::AgonesSdk* agones) {
  if (agones == nullptr) {
    QCoreApplication::quit();
    return;
  }
  agones->Shutdown(kAgonesShutdownTime, [] { QCoreApplication::quit(); });
}

// SIGHUP: the settings read afresh from the same command line and file; the
// reloadable ones take effect, the rest wait for the next start. The log
// file is reopened, so that a rotated one is let go.
// The ban file is read afresh too; a malformed one leaves the bans as they
// were. The outcome, as the line written.
quorvane::ActionResult Reload(const QStringList& arguments, quorvane::Server& server,
                              std::unique_ptr<quorvane::LogFile>& logFile) {
  const quorvane::CommandLine reread = quorvane::ParseCommandLine(arguments);
  if (!reread.options) {
    const QString failed = "reload failed, settings unchanged: " + reread.error;
    Tell(Severity::kError, failed);
    return {false, failed.toStdString()};
  }
  try {
    quorvane::ReopenLogFile(logFile, reread.options->logFile);
  } catch (const std::runtime_error& error) {
    Tell(Severity::kError, QString::fromStdString(error.what()) +
                               (logFile ? "; still writing to " + logFile->Path() : QString()));
  }
  const QStringList waiting = server.Reload(*reread.options);
  const QString reloaded =
      "settings reloaded" +
      (waiting.isEmpty() ? QString() : "; at the next start: " + waiting.join(", "));
  Tell(Severity::kInfo, reloaded);
  if (const QString bans = server.LoadBans(); !bans.isEmpty()) {
    const QString kept = "bans unchanged: " + bans;
    Tell(Severity::kError, kept);
    return {false, (reloaded + "; " + kept).toStdString()};
  }
  return {true, reloaded.toStdString()};
}

}  // namespace

int main(int argc, char* argv[]) {
  quorvane::InstallQtMessageHandler();
  quorvane::ProcessSignals::Block();
  // A log reader that goes away (a closed pipe on standard output) must not
  // end the server: the write fails and the server goes on.
  std::signal(SIGPIPE, SIG_IGN);
  // A log file at the file size limit fails its writes with EFBIG, which are
  // reported, instead of ending the process.
  std::signal(SIGXFSZ, SIG_IGN);

  QStringList arguments;
  for (int i = 0; i < argc; ++i) arguments << QString::fromLocal8Bit(argv[i]);
  const quorvane::CommandLine commandLine = quorvane::ParseCommandLine(arguments);
  if (!commandLine.options) {
    PrintTo(commandLine.messageIsError ? stderr : stdout, commandLine.message);
    return commandLine.exitStatus;
  }
  const quorvane::ServerOptions& options = *commandLine.options;

  const bool noDisplay = !options.headless && !HasDisplay();
  const bool headless = options.headless || noDisplay;
  // Qt's own event dispatcher rather than GLib's: GLib wakes its loop through
  // an eventfd each time a socket starts or stops waiting to write, several
  // system calls on every reply. An empty QT_NO_GLIB keeps GLib's.
  if (!qEnvironmentVariableIsSet("QT_NO_GLIB")) qputenv("QT_NO_GLIB", "1");
  // Headless, on epoll: Qt's loop polls every watched descriptor at each
  // wait. A window needs the platform's own loop.
  if (headless) {
    try {
      QCoreApplication::setEventDispatcher(new quorvane::EpollEventDispatcher);
    } catch (const std::runtime_error&) {
      // Out of descriptors already: Qt's own loop will do.
    }
  }
  const std::unique_ptr<QCoreApplication> app = headless
                                                    ? std::make_unique<QCoreApplication>(argc, argv)
                                                    : std::make_unique<QApplication>(argc, argv);
  // Runs before the application goes, whichever way main returns.
  const FlushAtExit flushAtExit;

  std::unique_ptr<quorvane::LogFile> logFile;
  try {
    quorvane::ReopenLogFile(logFile, options.logFile);
  } catch (const std::runtime_error& error) {
    Fail(QString::fromStdString(error.what()));
    return 1;
  }
  if (noDisplay) {
    Tell(Severity::kInfo, "no display (DISPLAY and WAYLAND_DISPLAY are unset): running headless");
  }
  // Without characters/ no login finds its character: say so before serving.
  const QString characters = QDir(options.dataDir.isEmpty() ? QString(".") : options.dataDir)
                                 .absoluteFilePath("characters");
  if (!QFileInfo(characters).isDir()) {
    if (options.requireCharacter) {
      Fail("no folder " + characters + ": with --require-character every login would be refused");
      return 2;
    }
    Tell(Severity::kWarning, "no folder " + characters + ": every login is served default data");
  }

  std::optional<kelvane::Library> library;
  const QString libraryFile =
      quorvane::LibraryToLoad(options.library, QCoreApplication::applicationDirPath());
  try {
    library.emplace(kelvane::Library::open(libraryFile.toStdString()));
  } catch (const kelvane::LoadError& error) {
    Fail(QString::fromStdString(error.what()));
    return 1;
  }

  std::unique_ptr<quorvane::ServerWindow> window;
  std::unique_ptr<quorvane::TextBox> log;
  std::optional<quorvane::DiagnosticsTap> diagnostics;
  if (headless) {
    log = std::make_unique<quorvane::StdoutLogBox>();
  } else {
    window = std::make_unique<quorvane::ServerWindow>();
    log = std::make_unique<quorvane::PlainTextLogBox>(window->Text1());
    diagnostics.emplace([&window](std::string_view line) { window->Diagnostics().Append(line); });
  }

  if (options.console && !headless) {
    Fail("--console needs --headless: a window has no console");
    return 2;
  }
  // The Agones SDK sidecar, when there is one: told of the players, and,
  // after the port listens, that the map is ready.
  const quorvane::AgonesPort agonesPort =
      quorvane::ChooseAgonesPort(options.agones, std::getenv(quorvane::kAgonesPortVariable));
  if (!agonesPort.error.isEmpty()) Tell(Severity::kWarning, agonesPort.error);
  std::unique_ptr<quorvane::AgonesSdk> agones;
  std::optional<quorvane::PlayerRoster> roster;
  if (agonesPort.port) {
    agones = std::make_unique<quorvane::AgonesSdk>(*agonesPort.port, quorvane::ReportOnStderr);
    roster.emplace(quorvane::PlayerRoster::Events{
        .joined = [&agones](const std::string& player) { agones->AddPlayer(player); },
        .left = [&agones](const std::string& player) { agones->RemovePlayer(player); },
    });
  }
  quorvane::QtClock clock;
  std::optional<quorvane::EmptyMapWatch> emptyMap;
  if (options.exitWhenEmpty.count() > 0) {
    emptyMap.emplace(clock, options.exitWhenEmpty, [&] {
      Tell(Severity::kInfo, "the map has been empty for " + options.given.value("exit-when-empty") +
                                " s: shutting down");
      EndProgram(agones.get());
    });
  }

  // Made after what observes it, so that it goes first.
  quorvane::Server server(options, library->api(), *log);
  if (roster) server.AddObserver(*roster);
  if (emptyMap) server.AddObserver(*emptyMap);
  if (const QString bans = server.LoadBans(); !bans.isEmpty()) {
    Fail(bans);
    return 2;
  }
  try {
    server.Start();
  } catch (const std::runtime_error& error) {
    Fail(QString::fromStdString(error.what()));
    return 1;
  }
  for (const QString& skipped : server.SkippedAddresses()) {
    Tell(Severity::kWarning, skipped + "; serving on the other addresses");
  }
  std::unique_ptr<quorvane::HttpEndpoint> http;
  if (options.http) {
    http = std::make_unique<quorvane::HttpEndpoint>(quorvane::HttpEndpoint::Sources{
        [&server] { return server.Snapshot(); }, [&server] { return server.Serving(); },
        [] {
          return quorvane::OutputDrops{quorvane::StandardOutput().Dropped(),
                                       quorvane::StandardError().Dropped(),
                                       quorvane::LogFileDroppedLines()};
        }});
    try {
      http->Listen(options.http->address, options.http->port);
    } catch (const std::runtime_error& error) {
      Fail(QString::fromStdString(error.what()));
      return 1;
    }
    Tell(Severity::kInfo, "metrics on " + http->Endpoint());
  }
  server.SetLifecycle({
      .draining = [] { quorvane::NotifyStopping("warning the players of the shutdown"); },
      .resumed = [&server] { quorvane::NotifyReady(server.Endpoint()); },
      .end = [&agones] { EndProgram(agones.get()); },
  });
  quorvane::CommandDesk desk({server.Operator(), [&server] { return server.Snapshot(); },
                              [&] { return Reload(arguments, server, logFile); },
                              quorvane::ReportOnStderr});
  const auto answer = [&desk](std::string_view line, const quorvane::Operator& by) {
    return quorvane::CommandDesk::Framed(desk.Run(line, by));
  };
  std::unique_ptr<quorvane::ControlSocket> control;
  if (!options.controlSocket.isEmpty()) {
    control = std::make_unique<quorvane::ControlSocket>(answer);
    try {
      control->Listen(options.controlSocket);
    } catch (const std::runtime_error& error) {
      Fail(QString::fromStdString(error.what()));
      return 1;
    }
    Tell(Severity::kInfo, "control socket on " + options.controlSocket);
  }
  std::unique_ptr<quorvane::Console> console;
  if (options.console) {
    console = std::make_unique<quorvane::Console>(STDIN_FILENO, answer, [](std::string_view text) {
      quorvane::StandardOutput().Write(text);
    });
  }
  const quorvane::ProcessSignals processSignals({
      .terminate =
          [&server](int signal) {
            Tell(Severity::kInfo, QString::fromStdString(server.Operator().Terminate(
                                      signal == SIGINT ? "SIGINT" : "SIGTERM")));
          },
      .hangUp = [&] { Reload(arguments, server, logFile); },
  });
  Tell(Severity::kInfo, "listening on " + server.Endpoint());
  quorvane::NotifyReady(server.Endpoint());
  if (agones) {
    Tell(Severity::kInfo, "agones sdk on " + agones->Endpoint());
    agones->StartHealth();
    agones->Ready();
  }
  if (window) {
    window->Watch([&server] { return server.Snapshot(); }, server.Endpoint());
    window->show();
  }
  return app->exec();
}
