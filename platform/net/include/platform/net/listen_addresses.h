// What --listen names, turned into the addresses to bind: an address stands
// for itself, a host name for every address it resolves to, and nothing at
// all for every interface.
#pragma once

#include <QHostAddress>
#include <QList>
#include <QString>
#include <QStringList>
#include <functional>

namespace quorvane {

// Whether `text` is a host name: dot-separated labels of letters, digits and
// inner hyphens, each 1 to 63 characters, 253 in all, the last not all
// digits (so that "300.1.1.1" is a wrong address rather than a name).
bool IsHostName(const QString& text);

// The addresses `name` resolves to, or none with `error` set.
using HostResolver = std::function<QList<QHostAddress>(const QString& name, QString& error)>;

// The system's resolver (/etc/hosts, then DNS), which blocks while it asks.
QList<QHostAddress> ResolveHostName(const QString& name, QString& error);

// The addresses for `hosts`, in their order and without repeats; the dual-stack
// any-address when `hosts` is empty. Throws std::runtime_error
// "cannot listen on NAME: reason" for a name that resolves to nothing.
QList<QHostAddress> ListenAddresses(const QStringList& hosts,
                                    const HostResolver& resolve = ResolveHostName);

}  // namespace quorvane
