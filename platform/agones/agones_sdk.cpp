#include "platform/agones/agones_sdk.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkProxy>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QUrl>
#include <algorithm>
#include <utility>

namespace quorvane {
namespace {

// The longest piece of an answer quoted in a report.
constexpr qsizetype kQuotedAnswer = 200;

QByteArray ValueBody(const std::string& value) {
  // Login names are Latin-1 bytes; JSON carries them as the same characters.
  return QJsonDocument(QJsonObject{{"value", QString::fromLatin1(value)}})
      .toJson(QJsonDocument::Compact);
}

QByteArray ListPath(const char* action) {
  return QByteArray("/v1beta1/lists/") + kAgonesPlayersList + ":" + action;
}

int Status(QNetworkReply* reply) {
  return reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
}

}  // namespace

AgonesSdk::AgonesSdk(std::uint16_t port, Diagnostics report, Timing timing)
    : port_(port), report_(std::move(report)), timing_(timing), backoff_(timing.firstRetry) {
  // The sidecar is on the pod's loopback, never behind a proxy.
  manager_.setProxy(QNetworkProxy::NoProxy);
  health_.setInterval(timing_.health);
  QObject::connect(&health_, &QTimer::timeout, &manager_, [this] { Health(); });
  retry_.setSingleShot(true);
  QObject::connect(&retry_, &QTimer::timeout, &manager_, [this] { SendNext(); });
  shutdownDeadline_.setSingleShot(true);
  QObject::connect(&shutdownDeadline_, &QTimer::timeout, &manager_, [this] { Finish(); });
}

AgonesSdk::~AgonesSdk() {
  // Replies still out finish without anyone to hear them.
  for (QNetworkReply* reply : {sending_, ping_}) {
    if (reply != nullptr) {
      reply->disconnect();
      reply->abort();
      reply->deleteLater();
    }
  }
}

QString AgonesSdk::Endpoint() const {
  return "127.0.0.1:" + QString::number(port_);
}

void AgonesSdk::StartHealth() {
  health_.start();
}

void AgonesSdk::Ready() {
  Enqueue({"/ready", "{}"});
}

void AgonesSdk::AddPlayer(const std::string& player) {
  Enqueue({ListPath("addValue"), ValueBody(player)});
}

void AgonesSdk::RemovePlayer(const std::string& player) {
  Enqueue({ListPath("removeValue"), ValueBody(player)});
}

void AgonesSdk::Shutdown(std::chrono::milliseconds within, std::function<void()> done) {
  if (shuttingDown_) return;
  shuttingDown_ = true;
  health_.stop();
  shutdownDone_ = std::move(done);
  shutdownDeadline_.start(within);
  Enqueue({"/shutdown", "{}"});
}

QNetworkReply* AgonesSdk::Post(const Call& call) {
  QNetworkRequest request(QUrl("http://" + Endpoint() + QString::fromLatin1(call.path)));
  request.setHeader(QNetworkRequest::ContentTypeHeader, "application/json");
  request.setTransferTimeout(static_cast<int>(timing_.callTimeout.count()));
  return manager_.post(request, call.body);
}

void AgonesSdk::Enqueue(Call call) {
  calls_.push_back(std::move(call));
  if (sending_ == nullptr && !retry_.isActive()) SendNext();
}

void AgonesSdk::SendNext() {
  if (calls_.empty() || sending_ != nullptr) return;
  sending_ = Post(calls_.front());
  QNetworkReply* reply = sending_;
  QObject::connect(reply, &QNetworkReply::finished, &manager_, [this, reply] { Sent(reply); });
}

void AgonesSdk::Sent(QNetworkReply* reply) {
  reply->deleteLater();
  sending_ = nullptr;
  const Call call = calls_.front();
  const std::optional<QString> failure = Failure(reply);
  if (failure && Retried(reply)) {
    Unanswered(call, *failure);
    retry_.start(backoff_);
    backoff_ = std::min(backoff_ * 2, timing_.longestRetry);
    return;
  }
  Answered();
  if (failure) {
    // The sidecar took the call and said no: sending it again would not help.
    Report(report_, Severity::kWarning, Subject(),
           ("POST " + call.path + " refused, " + failure->toLatin1() + ": " +
            reply->readAll().left(kQuotedAnswer).simplified())
               .toStdString());
  }
  calls_.pop_front();
  backoff_ = timing_.firstRetry;
  if (call.path == "/shutdown") {
    Finish();
    return;
  }
  SendNext();
}

void AgonesSdk::Health() {
  // A ping still out is not doubled up; the next tick sends again.
  if (ping_ != nullptr) return;
  ping_ = Post({"/health", "{}"});
  QNetworkReply* reply = ping_;
  QObject::connect(reply, &QNetworkReply::finished, &manager_, [this, reply] {
    reply->deleteLater();
    ping_ = nullptr;
    if (const std::optional<QString> failure = Failure(reply); failure && Retried(reply)) {
      Unanswered({"/health", {}}, *failure);
    } else {
      Answered();
    }
  });
}

std::optional<QString> AgonesSdk::Failure(QNetworkReply* reply) {
  const int status = Status(reply);
  if (status >= 200 && status < 300) return std::nullopt;
  if (status != 0) return "answered " + QString::number(status);
  return reply->errorString();
}

bool AgonesSdk::Retried(QNetworkReply* reply) {
  // No answer at all (not up yet, or too slow), or a sidecar that is not well.
  const int status = Status(reply);
  return status == 0 || status >= 500;
}

std::string AgonesSdk::Subject() const {
  return ("agones " + Endpoint()).toStdString();
}

void AgonesSdk::Answered() {
  if (reported_) {
    Report(report_, Severity::kInfo, Subject(), "answering again");
  }
  failingSince_.reset();
  reported_ = false;
}

void AgonesSdk::Unanswered(const Call& call, const QString& why) {
  const auto now = std::chrono::steady_clock::now();
  if (!failingSince_) failingSince_ = now;
  if (reported_ || now - *failingSince_ < timing_.reportAfter) return;
  reported_ = true;
  const double seconds = static_cast<double>(timing_.reportAfter.count()) / 1000;
  Report(report_, Severity::kWarning, Subject(),
         ("no answer for " + QString::number(seconds) + " s (POST " +
          QString::fromLatin1(call.path) + ": " + why + "); still trying, the game goes on")
             .toStdString());
}

void AgonesSdk::Finish() {
  shutdownDeadline_.stop();
  if (std::function<void()> done = std::exchange(shutdownDone_, nullptr)) done();
}

}  // namespace quorvane
