#include "upgrade_request.h"

#include <QList>

namespace quorvane {
namespace {

QByteArray ReasonPhrase(QHttpServerResponse::StatusCode status) {
  using StatusCode = QHttpServerResponse::StatusCode;
  switch (status) {
    case StatusCode::Ok:
      return "OK";
    case StatusCode::NotFound:
      return "Not Found";
    case StatusCode::MethodNotAllowed:
      return "Method Not Allowed";
    case StatusCode::ServiceUnavailable:
      return "Service Unavailable";
    default:
      return "Status";
  }
}

}  // namespace

bool AsksToUpgrade(QByteArrayView head) {
  const QList<QByteArray> lines = head.toByteArray().split('\n');
  for (qsizetype at = 1; at < lines.size(); ++at) {
    const QByteArray field = lines[at].trimmed();
    const qsizetype colon = field.indexOf(':');
    if (colon > 0 && field.left(colon).trimmed().compare("upgrade", Qt::CaseInsensitive) == 0) {
      return true;
    }
  }
  return false;
}

RequestLine RequestLineOf(QByteArrayView head) {
  const QByteArray first = head.toByteArray().split('\n').value(0).trimmed();
  const QList<QByteArray> words = first.split(' ');
  if (words.size() < 2) return {};
  return {words[0], words[1].split('?').value(0)};
}

QByteArray ClosingAnswer(const QHttpServerResponse& response) {
  const QByteArray body = response.data();
  const auto status = response.statusCode();
  QByteArray answer = "HTTP/1.1 " + QByteArray::number(static_cast<int>(status)) + " " +
                      ReasonPhrase(status) + "\r\n";
  if (!response.mimeType().isEmpty()) answer += "Content-Type: " + response.mimeType() + "\r\n";
  answer += "Content-Length: " + QByteArray::number(body.size()) + "\r\n";
  answer += "Connection: close\r\n\r\n";
  return answer + body;
}

}  // namespace quorvane
