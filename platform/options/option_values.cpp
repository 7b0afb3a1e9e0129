#include "option_values.h"

#include <QFileInfo>
#include <QHostAddress>
#include <QRegularExpression>
#include <cmath>

#include "platform/net/listen_addresses.h"

namespace quorvane {
namespace {

// Keeps the milliseconds of a duration, and rates, far inside their range.
constexpr double kMaxRate = 1e9;

QString Needs(const QString& accepts) {
  return "needs " + accepts;
}

QString SecondsText(std::chrono::milliseconds value) {
  return QString::number(static_cast<double>(value.count()) / 1000, 'g', 15);
}

std::optional<std::chrono::milliseconds> ReadSeconds(const QString& text, double min, double max) {
  bool valid = false;
  const double seconds = text.trimmed().toDouble(&valid);
  if (!valid || !(seconds >= min && seconds <= max)) return std::nullopt;
  return std::chrono::milliseconds(std::llround(seconds * 1000));
}

// The items of a list as the file and a repeated option give it: "a, b".
QStringList Items(const QString& text) {
  return text.split(QRegularExpression("[,\\s]+"), Qt::SkipEmptyParts);
}

}  // namespace

ValueType<std::uint16_t> Port() {
  const QString accepts = "a number from 0 to 65535";
  return {"port", accepts,
          [accepts](const QString& text, std::uint16_t& into) {
            bool valid = false;
            const uint port = text.trimmed().toUInt(&valid);
            if (!valid || port > 65535) return Needs(accepts);
            into = static_cast<std::uint16_t>(port);
            return QString();
          },
          [](const std::uint16_t& value) { return QString::number(value); }};
}

ValueType<std::optional<std::uint16_t>> OptionalPort() {
  const QString accepts = "a number from 0 to 65535, or nothing";
  return {"port", accepts,
          [accepts](const QString& text, std::optional<std::uint16_t>& into) {
            if (text.trimmed().isEmpty()) {
              into.reset();
              return QString();
            }
            bool valid = false;
            const uint port = text.trimmed().toUInt(&valid);
            if (!valid || port > 65535) return Needs(accepts);
            into = static_cast<std::uint16_t>(port);
            return QString();
          },
          [](const std::optional<std::uint16_t>& value) {
            return value ? QString::number(*value) : QString();
          }};
}

ValueType<int> Number(int min, int max) {
  const QString accepts = QString("a number from %1 to %2").arg(min).arg(max);
  return {"n", accepts,
          [=](const QString& text, int& into) {
            bool valid = false;
            const int number = text.trimmed().toInt(&valid);
            if (!valid || number < min || number > max) return Needs(accepts);
            into = number;
            return QString();
          },
          [](const int& value) { return QString::number(value); }};
}

ValueType<std::size_t> Count(std::size_t max) {
  const QString accepts = "a whole number from 0 to " + QString::number(max);
  return {"n", accepts,
          [=](const QString& text, std::size_t& into) {
            bool valid = false;
            const qulonglong count = text.trimmed().toULongLong(&valid);
            if (!valid || count > max) return Needs(accepts);
            into = static_cast<std::size_t>(count);
            return QString();
          },
          [](const std::size_t& value) { return QString::number(value); }};
}

ValueType<std::chrono::milliseconds> Seconds(double min, double max) {
  const QString accepts = "a number of seconds from " +
                          (min == 0 ? QString("0 (off)") : QString::number(min)) + " to " +
                          QString::number(max);
  return {"seconds", accepts,
          [=](const QString& text, std::chrono::milliseconds& into) {
            const auto value = ReadSeconds(text, min, max);
            if (!value) return Needs(accepts);
            into = *value;
            return QString();
          },
          SecondsText};
}

ValueType<std::chrono::seconds> WholeSeconds(int max) {
  const QString accepts = QString("whole seconds from 0 to %1").arg(max);
  return {"seconds", accepts,
          [=](const QString& text, std::chrono::seconds& into) {
            bool valid = false;
            const int seconds = text.trimmed().toInt(&valid);
            if (!valid || seconds < 0 || seconds > max) return Needs(accepts);
            into = std::chrono::seconds(seconds);
            return QString();
          },
          [](const std::chrono::seconds& value) { return QString::number(value.count()); }};
}

ValueType<double> Rate() {
  const QString accepts = "a number from 0 (off) to 1e9";
  return {"n", accepts,
          [accepts](const QString& text, double& into) {
            bool valid = false;
            const double rate = text.trimmed().toDouble(&valid);
            if (!valid || !(rate >= 0 && rate <= kMaxRate)) return Needs(accepts);
            into = rate;
            return QString();
          },
          [](const double& value) { return QString::number(value, 'g', 15); }};
}

ValueType<bool> Switch() {
  const QString accepts = "true or false";
  return {"", accepts,
          [accepts](const QString& text, bool& into) {
            const QString word = text.trimmed();
            if (word != "true" && word != "false") return Needs(accepts);
            into = word == "true";
            return QString();
          },
          [](const bool& value) { return QString(value ? "true" : "false"); }};
}

ValueType<std::vector<AddressRange>> AddressRanges() {
  const QString accepts = "ADDR or ADDR/BITS with an IPv4 or IPv6 address";
  return {"addr[/bits]", accepts,
          [accepts](const QString& text, std::vector<AddressRange>& into) {
            std::vector<AddressRange> ranges;
            for (const QString& item : Items(text)) {
              const auto range = AddressRange::Parse(item.toStdString());
              if (!range) return Needs(accepts) + ", not " + item;
              ranges.push_back(*range);
            }
            into = std::move(ranges);
            return QString();
          },
          [](const std::vector<AddressRange>& value) {
            QStringList items;
            for (const AddressRange& range : value) {
              items << QString::fromStdString(range.ToString());
            }
            return items.join(", ");
          }};
}

// More than CONNECTIONS within the first time ban for the second.
ValueType<std::optional<Autoban>> AutobanRule() {
  const QString accepts = "off or CONNECTIONS/SECONDS/SECONDS, e.g. 20/60/300";
  constexpr double kMinSeconds = 0.001;
  constexpr double kMaxSeconds = 86400;
  return {"a/t/b",
          accepts,
          [accepts](const QString& text, std::optional<Autoban>& into) {
            const QString rule = text.trimmed().toLower();
            if (rule == "off") {
              into.reset();
              return QString();
            }
            const QStringList parts = rule.split('/');
            if (parts.size() != 3) return Needs(accepts);
            bool valid = false;
            const int connections = parts[0].toInt(&valid);
            const auto window = ReadSeconds(parts[1], kMinSeconds, kMaxSeconds);
            const auto duration = ReadSeconds(parts[2], kMinSeconds, kMaxSeconds);
            if (!valid || connections < 1 || connections > 100000 || !window || !duration) {
              return Needs(accepts);
            }
            into = Autoban{connections, *window, *duration};
            return QString();
          },
          [](const std::optional<Autoban>& value) {
            if (!value) return QString("off");
            return QString::number(value->connections) + "/" + SecondsText(value->window) + "/" +
                   SecondsText(value->duration);
          },
          Completion::kWords,
          {"off"}};
}

ValueType<QStringList> Hosts() {
  const QString accepts = "an IPv4 or IPv6 address or a host name";
  return {"address", accepts,
          [accepts](const QString& text, QStringList& into) {
            QStringList hosts;
            for (QString host : text.split(',', Qt::SkipEmptyParts)) {
              host = host.trimmed();
              if (host.isEmpty()) continue;
              if (QHostAddress(host).isNull() && !IsHostName(host)) {
                return Needs(accepts) + ", not " + host;
              }
              hosts << host;
            }
            into = hosts;
            return QString();
          },
          [](const QStringList& value) { return value.join(", "); }};
}

ValueType<QString> Folder() {
  return {"folder", "an existing folder",
          [](const QString& text, QString& into) {
            if (!text.isEmpty() && !QFileInfo(text).isDir()) return "names no such folder: " + text;
            into = text;
            return QString();
          },
          [](const QString& value) { return value; }, Completion::kFolder};
}

ValueType<QString> File() {
  return {"file", "",
          [](const QString& text, QString& into) {
            into = text;
            return QString();
          },
          [](const QString& value) { return value; }, Completion::kFile};
}

ValueType<std::optional<HttpAddress>> HttpEndpoint() {
  const QString accepts = "an address and a port, e.g. 127.0.0.1:9100";
  return {"address:port", accepts,
          [accepts](const QString& text, std::optional<HttpAddress>& into) {
            if (text.isEmpty()) {
              into.reset();
              return QString();
            }
            const qsizetype colon = text.lastIndexOf(':');
            QString address = text.left(colon);
            if (address.startsWith('[') && address.endsWith(']')) {
              address = address.mid(1).chopped(1);
            }
            bool valid = false;
            const uint port = text.mid(colon + 1).toUInt(&valid);
            HttpAddress http;
            if (colon < 0 || !valid || port > 65535 || !http.address.setAddress(address)) {
              return Needs(accepts) + ", not " + text;
            }
            http.port = static_cast<std::uint16_t>(port);
            into = http;
            return QString();
          },
          [](const std::optional<HttpAddress>& value) {
            if (!value) return QString();
            const QString address = value->address.toString();
            return (address.contains(':') ? "[" + address + "]" : address) + ":" +
                   QString::number(value->port);
          }};
}

ValueType<QByteArray> Latin1Text(std::size_t longest, bool lineBreaks) {
  const QString accepts = "Latin-1 text of at most " + QString::number(longest) + " bytes" +
                          (lineBreaks ? "" : " on one line");
  return {"text", accepts,
          [=](const QString& text, QByteArray& into) {
            const QByteArray bytes = text.toLatin1();
            if (QString::fromLatin1(bytes) != text ||
                static_cast<std::size_t>(bytes.size()) > longest ||
                (!lineBreaks && text.contains('\n'))) {
              return Needs(accepts);
            }
            into = bytes;
            return QString();
          },
          [](const QByteArray& value) { return QString::fromLatin1(value); }};
}

}  // namespace quorvane
