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

#include "kelvane.hpp"
#include "platform/monitoring/http_endpoint.h"
#include "platform/options/server_options.h"
#include "platform/output/log_file.h"
#include "platform/output/non_blocking_output.h"
#include "platform/output/qt_messages.h"
#include "platform/output/stderr_report.h"
#include "platform/output/stdout_log_box.h"
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

// A line for the operator on standard error, shared with the diagnostics
// through their queue that never blocks, and in the log file.
void Announce(Severity severity, const QString& line) {
  quorvane::ReportProgramLine(severity, line.toLocal8Bit().toStdString());
}

// Such a line naming the program.
void Tell(Severity severity, const QString& text) {
  Announce(severity, "quorvane: " + text);
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
// reloadable ones take effect, the rest wait for the next start. The log
// file is reopened, so that a rotated one is let go.
void Reload(const QStringList& arguments, quorvane::Server& server,
            std::unique_ptr<quorvane::LogFile>& logFile) {
  const quorvane::CommandLine reread = quorvane::ParseCommandLine(arguments);
  if (!reread.options) {
    Tell(Severity::kError, "reload failed, settings unchanged: " + reread.error);
    return;
  }
  try {
    quorvane::ReopenLogFile(logFile, reread.options->logFile);
  } catch (const std::runtime_error& error) {
    Tell(Severity::kError, QString::fromStdString(error.what()) +
                               (logFile ? "; still writing to " + logFile->Path() : QString()));
  }
  const QStringList waiting = server.Reload(*reread.options);
  Tell(Severity::kInfo,
       "settings reloaded" +
           (waiting.isEmpty() ? QString() : "; at the next start: " + waiting.join(", ")));
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
  const std::unique_ptr<QCoreApplication> app = headless
                                                    ? std::make_unique<QCoreApplication>(argc, argv)
                                                    : std::make_unique<QApplication>(argc, argv);
  // Runs before the application goes, whichever way main returns.
  const FlushAtExit flushAtExit;

  std::unique_ptr<quorvane::LogFile> logFile;
  try {
    quorvane::ReopenLogFile(logFile, options.logFile);
  } catch (const std::runtime_error& error) {
    Tell(Severity::kError, QString::fromStdString(error.what()));
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
      Tell(Severity::kError,
           "no folder " + characters + ": with --require-character every login would be refused");
      return 2;
    }
    Tell(Severity::kWarning,
         "warning: no folder " + characters + ": every login is served default data");
  }

  std::optional<kelvane::Library> library;
  const QString libraryFile =
      quorvane::LibraryToLoad(options.library, QCoreApplication::applicationDirPath());
  try {
    library.emplace(kelvane::Library::open(libraryFile.toStdString()));
  } catch (const kelvane::LoadError& error) {
    Tell(Severity::kError, QString::fromStdString(error.what()));
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
    Tell(Severity::kError, QString::fromStdString(error.what()));
    return 1;
  }
  for (const QString& skipped : server.SkippedAddresses()) {
    Tell(Severity::kWarning, "warning: " + skipped + "; serving on the other addresses");
  }
  std::unique_ptr<quorvane::HttpEndpoint> http;
  if (options.http) {
    http = std::make_unique<quorvane::HttpEndpoint>(quorvane::HttpEndpoint::Sources{
        [&server] { return server.Snapshot(); }, [&server] { return server.Listening(); },
        [] {
          return quorvane::OutputDrops{quorvane::StandardOutput().Dropped(),
                                       quorvane::StandardError().Dropped(),
                                       quorvane::LogFileDroppedLines()};
        }});
    try {
      http->Listen(options.http->address, options.http->port);
    } catch (const std::runtime_error& error) {
      Tell(Severity::kError, QString::fromStdString(error.what()));
      return 1;
    }
    Announce(Severity::kInfo, "metrics on " + http->Endpoint());
  }
  const quorvane::ProcessSignals processSignals({
      .terminate =
          [](int signal) {
            Tell(Severity::kInfo,
                 QString("shutting down on ") + (signal == SIGINT ? "SIGINT" : "SIGTERM"));
            QCoreApplication::quit();
          },
      .hangUp = [&] { Reload(arguments, server, logFile); },
  });
  Announce(Severity::kInfo, "listening on " + server.Endpoint());
  quorvane::NotifyReady(server.Endpoint());
  if (window) {
    window->Watch([&server] { return server.Snapshot(); }, server.Endpoint());
    window->show();
  }
  return app->exec();
}
