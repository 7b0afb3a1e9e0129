// quorvane: the map server. Loads the cipher library, then runs Form1 on one
// Qt event thread, in a window or headless.
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

#include "http_endpoint.h"
#include "kelvane.hpp"
#include "non_blocking_output.h"
#include "plain_text_log_box.h"
#include "process_signals.h"
#include "server.h"
#include "server_options.h"
#include "server_window.h"
#include "service_manager.h"
#include "stderr_report.h"
#include "stdout_log_box.h"

namespace {

void PrintTo(std::FILE* stream, const QString& text) {
  std::fputs(text.toLocal8Bit().constData(), stream);
  std::fflush(stream);
}

// Once the server runs, standard error is shared with its diagnostics, which
// go through a queue that never blocks: later lines join that queue.
void WriteToStderr(const QString& text) {
  quorvane::StandardError().Write(text.toLocal8Bit().toStdString());
}

// A line for the operator on standard error, naming the program.
void Tell(const QString& text) {
  WriteToStderr("quorvane: " + text + "\n");
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

// SIGHUP: the settings read afresh from the same command line and file; the
// reloadable ones take effect, the rest wait for the next start.
void Reload(const QStringList& arguments, quorvane::Server& server) {
  const quorvane::CommandLine reread = quorvane::ParseCommandLine(arguments);
  if (!reread.options) {
    Tell("reload failed, settings unchanged: " + reread.error);
    return;
  }
  const QStringList waiting = server.Reload(*reread.options);
  Tell("settings reloaded" +
       (waiting.isEmpty() ? QString() : "; at the next start: " + waiting.join(", ")));
}

}  // namespace

int main(int argc, char* argv[]) {
  quorvane::ProcessSignals::Block();
  // A log reader that goes away (a closed pipe on standard output) must not
  // end the server: the write fails and the server goes on.
  std::signal(SIGPIPE, SIG_IGN);

  QStringList arguments;
  for (int i = 0; i < argc; ++i) arguments << QString::fromLocal8Bit(argv[i]);
  const quorvane::CommandLine commandLine = quorvane::ParseCommandLine(arguments);
  if (!commandLine.options) {
    PrintTo(commandLine.messageIsError ? stderr : stdout, commandLine.message);
    return commandLine.exitStatus;
  }
  const quorvane::ServerOptions& options = *commandLine.options;

  bool headless = options.headless;
  if (!headless && !HasDisplay()) {
    Tell("no display (DISPLAY and WAYLAND_DISPLAY are unset): running headless");
    headless = true;
  }
  // Without characters/ no login finds its character: say so before serving.
  const QString characters = QDir(options.dataDir.isEmpty() ? QString(".") : options.dataDir)
                                 .absoluteFilePath("characters");
  if (!QFileInfo(characters).isDir()) {
    if (options.requireCharacter) {
      PrintTo(stderr, "quorvane: no folder " + characters +
                          ": with --require-character every login would be refused\n");
      return 2;
    }
    Tell("warning: no folder " + characters + ": every login is served default data");
  }
  // Qt's own event dispatcher rather than GLib's: GLib wakes its loop through
  // an eventfd each time a socket starts or stops waiting to write, several
  // system calls on every reply. An empty QT_NO_GLIB keeps GLib's.
  if (!qEnvironmentVariableIsSet("QT_NO_GLIB")) qputenv("QT_NO_GLIB", "1");
  const std::unique_ptr<QCoreApplication> app = headless
                                                    ? std::make_unique<QCoreApplication>(argc, argv)
                                                    : std::make_unique<QApplication>(argc, argv);
  // Runs before the application goes, whichever way main returns.
  const FlushAtExit flushAtExit;

  std::optional<kelvane::Library> library;
  const QString libraryFile =
      quorvane::LibraryToLoad(options.library, QCoreApplication::applicationDirPath());
  try {
    library.emplace(kelvane::Library::open(libraryFile.toStdString()));
  } catch (const kelvane::LoadError& error) {
    Tell(QString::fromStdString(error.what()));
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

  quorvane::Server server(options, library->api(), *log);
  try {
    server.Start();
  } catch (const std::runtime_error& error) {
    Tell(QString::fromStdString(error.what()));
    return 1;
  }
  std::unique_ptr<quorvane::HttpEndpoint> http;
  if (options.http) {
    http = std::make_unique<quorvane::HttpEndpoint>(quorvane::HttpEndpoint::Sources{
        [&server] { return server.Snapshot(); }, [&server] { return server.Listening(); }});
    try {
      http->Listen(options.http->address, options.http->port);
    } catch (const std::runtime_error& error) {
      Tell(QString::fromStdString(error.what()));
      return 1;
    }
    PrintTo(stderr, "metrics on " + http->Endpoint() + "\n");
  }
  const quorvane::ProcessSignals processSignals({
      .terminate =
          [](int signal) {
            Tell(QString("shutting down on ") + (signal == SIGINT ? "SIGINT" : "SIGTERM"));
            QCoreApplication::quit();
          },
      .hangUp = [&] { Reload(arguments, server); },
  });
  WriteToStderr("listening on " + server.Endpoint() + "\n");
  quorvane::NotifyReady(server.Endpoint());
  if (window) {
    window->Watch([&server] { return server.Snapshot(); }, server.Endpoint());
    window->show();
  }
  return app->exec();
}
