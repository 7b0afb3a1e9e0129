#include "platform/output/qt_messages.h"

#include <QCoreApplication>
#include <QString>
#include <QThread>
#include <QTimer>
#include <chrono>
#include <string>
#include <string_view>

#include "platform/output/message_flood.h"
#include "platform/output/non_blocking_output.h"
#include "platform/output/stderr_report.h"

namespace quorvane {
namespace {

using std::chrono::steady_clock;

constexpr std::chrono::seconds kFatalFlushTime{2};

MessageFlood& Flood() {
  static MessageFlood flood;
  return flood;
}

bool summaryDue = false;
// A report that makes Qt warn (a notifier on a bad descriptor, say) must
// not come back here without end.
bool reporting = false;

Severity SeverityOf(QtMsgType type) {
  switch (type) {
    case QtDebugMsg:
    case QtInfoMsg:
      return Severity::kInfo;
    case QtWarningMsg:
      return Severity::kWarning;
    case QtCriticalMsg:
    case QtFatalMsg:
      break;
  }
  return Severity::kError;
}

void TellHeld(steady_clock::time_point now) {
  for (const MessageFlood::Held& held : Flood().TakeEnded(now)) {
    const std::string message =
        std::to_string(held.count) + " more messages within 1 s not written";
    ReportOnStderr({Severity::kWarning, held.source, message});
  }
}

// Tells the counts when their interval ends, even when the flood stops.
void ScheduleSummary() {
  QCoreApplication* const app = QCoreApplication::instance();
  if (summaryDue || app == nullptr) return;
  summaryDue = true;
  QTimer::singleShot(MessageFlood::kInterval, app, [] {
    summaryDue = false;
    reporting = true;
    TellHeld(steady_clock::now());
    reporting = false;
    if (Flood().Holding()) ScheduleSummary();
  });
}

void Report(QtMsgType type, const std::string& source, const std::string& text) {
  if (reporting) return;
  reporting = true;
  const Severity severity = SeverityOf(type);
  if (type == QtFatalMsg) {
    // Qt ends the process once this returns.
    ReportOnStderr({severity, source, text});
    FlushStandardStreams(kFatalFlushTime);
  } else {
    const auto now = steady_clock::now();
    TellHeld(now);
    if (Flood().Admit(source, now)) {
      ReportOnStderr({severity, source, text});
    } else {
      ScheduleSummary();
    }
  }
  reporting = false;
}

void Handle(QtMsgType type, const QMessageLogContext& context, const QString& text) {
  const char* const category = context.category;
  const std::string source =
      category == nullptr || std::string_view(category) == "default" ? "qt" : category;
  std::string message = text.toStdString();
  QCoreApplication* const app = QCoreApplication::instance();
  if (type != QtFatalMsg && app != nullptr && QThread::currentThread() != app->thread()) {
    QMetaObject::invokeMethod(
        app, [type, source, message] { Report(type, source, message); }, Qt::QueuedConnection);
    return;
  }
  Report(type, source, message);
}

}  // namespace

void InstallQtMessageHandler() {
  qInstallMessageHandler(Handle);
}

}  // namespace quorvane
