// A request that asks to switch protocols (WebSocket): Qt's HTTP server
// drops it with a warning, so the endpoint answers it itself, as the plain
// GET it also is, and closes the connection.
#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QHttpServerResponse>

namespace quorvane {

struct RequestLine {
  QByteArray method;
  QByteArray path;  // without its query
};

// Whether the request head `head` (up to the empty line) has an Upgrade
// header.
bool AsksToUpgrade(QByteArrayView head);
// The method and path of `head`'s first line; empty when it has none.
RequestLine RequestLineOf(QByteArrayView head);
// `response` as HTTP/1.1 bytes, saying the connection closes.
QByteArray ClosingAnswer(const QHttpServerResponse& response);

}  // namespace quorvane
