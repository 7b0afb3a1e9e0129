#include "platform/net/listen_addresses.h"

#include <QHostInfo>
#include <QRegularExpression>
#include <stdexcept>

namespace quorvane {

bool IsHostName(const QString& text) {
  static const QRegularExpression label("^[A-Za-z0-9]([A-Za-z0-9-]{0,61}[A-Za-z0-9])?$");
  static const QRegularExpression digits("^[0-9]+$");
  if (text.isEmpty() || text.size() > 253) return false;
  const QStringList labels = text.split('.');
  for (const QString& part : labels) {
    if (!label.match(part).hasMatch()) return false;
  }
  return !digits.match(labels.last()).hasMatch();
}

QList<QHostAddress> ResolveHostName(const QString& name, QString& error) {
  const QHostInfo info = QHostInfo::fromName(name);
  if (info.error() != QHostInfo::NoError) {
    error = info.errorString();
    return {};
  }
  return info.addresses();
}

QList<QHostAddress> ListenAddresses(const QStringList& hosts, const HostResolver& resolve) {
  if (hosts.isEmpty()) return {QHostAddress(QHostAddress::Any)};
  QList<QHostAddress> addresses;
  const auto add = [&addresses](const QHostAddress& address) {
    if (!addresses.contains(address)) addresses.append(address);
  };
  for (const QString& host : hosts) {
    if (const QHostAddress literal(host); !literal.isNull()) {
      add(literal);
      continue;
    }
    QString error;
    const QList<QHostAddress> resolved = resolve(host, error);
    if (resolved.isEmpty()) {
      throw std::runtime_error("cannot listen on " + host.toStdString() + ": " +
                               (error.isEmpty() ? QString("no address") : error).toStdString());
    }
    for (const QHostAddress& address : resolved) add(address);
  }
  return addresses;
}

}  // namespace quorvane
