// The game server's side of Agones: its SDK sidecar's REST API on the pod's
// loopback. Health pings go out on the event loop's own timer, so a wedged
// loop stops them and Agones marks the server unhealthy. The other calls are
// sent one at a time in the order made (ready, players joining and leaving,
// shutdown); one that finds the sidecar not up yet, or answering 5xx, is
// retried with back-off, and the calls behind it wait. Nothing blocks the
// event thread: every call is asynchronous and bounded in time.
#pragma once

#include <QByteArray>
#include <QNetworkAccessManager>
#include <QString>
#include <QTimer>
#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <optional>
#include <string>

#include "session/diagnostics.h"

class QNetworkReply;

namespace quorvane {

// The list of a GameServer that holds its players.
inline constexpr char kAgonesPlayersList[] = "players";

class AgonesSdk {
 public:
  // Well inside the default health period of Agones (5 s), so that one late
  // ping is no failure.
  static constexpr std::chrono::milliseconds kHealthInterval{2000};

  struct Timing {
    std::chrono::milliseconds health = kHealthInterval;
    // How long one call may take, from sending to the last byte of its answer.
    std::chrono::milliseconds callTimeout{1500};
    // The wait before the first retry, doubled on each retry up to the longest.
    std::chrono::milliseconds firstRetry{250};
    std::chrono::milliseconds longestRetry{4000};
    // A sidecar that has not answered for this long since a call failed is
    // reported, once until it answers again.
    std::chrono::milliseconds reportAfter{15000};
  };

  // Reports go to `report` with the subject "agones 127.0.0.1:PORT".
  AgonesSdk(std::uint16_t port, Diagnostics report, Timing timing);
  AgonesSdk(std::uint16_t port, Diagnostics report) : AgonesSdk(port, std::move(report), {}) {}
  AgonesSdk(const AgonesSdk&) = delete;
  AgonesSdk& operator=(const AgonesSdk&) = delete;
  ~AgonesSdk();

  // Starts the health pings.
  void StartHealth();
  // The game port listens: the GameServer may become Ready.
  void Ready();
  // `player` joins or leaves the GameServer's players list.
  void AddPlayer(const std::string& player);
  void RemovePlayer(const std::string& player);
  // The server is ending: no more health pings, and the shutdown call after
  // whatever is queued. `done` runs once the sidecar has answered it, or
  // once `within` has passed, whichever comes first; a second call does
  // nothing.
  void Shutdown(std::chrono::milliseconds within, std::function<void()> done);

  QString Endpoint() const;

 private:
  struct Call {
    QByteArray path;
    QByteArray body;
  };

  QNetworkReply* Post(const Call& call);
  void Enqueue(Call call);
  void SendNext();
  void Sent(QNetworkReply* reply);
  void Health();
  // Nothing when the sidecar took the call; otherwise why not.
  static std::optional<QString> Failure(QNetworkReply* reply);
  // Whether the call that got `reply` is to be sent again.
  static bool Retried(QNetworkReply* reply);
  std::string Subject() const;
  void Answered();
  void Unanswered(const Call& call, const QString& why);
  void Finish();

  std::uint16_t port_;
  Diagnostics report_;
  Timing timing_;
  QNetworkAccessManager manager_;
  std::deque<Call> calls_;
  QNetworkReply* sending_ = nullptr;
  QNetworkReply* ping_ = nullptr;
  QTimer health_;
  QTimer retry_;
  std::chrono::milliseconds backoff_;
  // Since when calls have failed with no answer between; none while it answers.
  std::optional<std::chrono::steady_clock::time_point> failingSince_;
  bool reported_ = false;
  bool shuttingDown_ = false;
  QTimer shutdownDeadline_;
  std::function<void()> shutdownDone_;
};

}  // namespace quorvane
