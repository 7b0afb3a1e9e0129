#include "platform/options/server_options.h"

#include <QCommandLineParser>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSettings>
#include <QTextStream>
#include <algorithm>
#include <cmath>
#include <functional>
#include <vector>

#include "platform/net/listen_addresses.h"
#include "session/socket_control.h"
#include "session/welcome_line.h"

namespace quorvane {
namespace {

constexpr char kProgram[] = "quorvane";

// A day is far beyond any real client; the bound keeps the milliseconds in range.
constexpr double kMinHandshakeSeconds = 0.001;
constexpr double kMaxSeconds = 86400;
constexpr double kMaxRate = 1e9;
// Beyond any client's need; the bound keeps the per-connection count small.
constexpr int kMaxLoginRate = 1000;

// One setting: `--name VALUE` on the command line, `name = VALUE` in the file.
struct Setting {
  QString name;
  QString valueName;  // empty for a switch, which takes true or false in the file
  QString help;
  QString defaultValue;
  // Stores `value` in `options`; returns what is wrong with it, empty when nothing is.
  std::function<QString(const QString& value, ServerOptions& options)> apply;
  // May be given more than once; apply then takes every value, separated by
  // commas, as does a key of the file with a list.
  bool repeatable = false;
  // Whether SIGHUP puts a changed value into effect; the others wait for a restart.
  bool reloadable = false;
};

QString ApplySeconds(const QString& value, std::chrono::milliseconds& into, double min, double max,
                     const QString& range) {
  bool valid = false;
  const double seconds = value.toDouble(&valid);
  if (!valid || !(seconds >= min && seconds <= max)) {
    return "needs a number of seconds from " + range;
  }
  into = std::chrono::milliseconds(std::llround(seconds * 1000));
  return {};
}

// Seconds from 0 (off) to a day.
QString ApplyOptionalSeconds(const QString& value, std::chrono::milliseconds& into) {
  return ApplySeconds(value, into, 0, kMaxSeconds, "0 (off) to 86400");
}

QString ApplyCount(const QString& value, std::size_t& into, std::size_t max) {
  bool valid = false;
  const qulonglong count = value.trimmed().toULongLong(&valid);
  if (!valid || count > max) return "needs a whole number from 0 to " + QString::number(max);
  into = static_cast<std::size_t>(count);
  return {};
}

QString ApplyRate(const QString& value, double& into) {
  bool valid = false;
  const double rate = value.trimmed().toDouble(&valid);
  if (!valid || !(rate >= 0 && rate <= kMaxRate)) return "needs a number from 0 (off) to 1e9";
  into = rate;
  return {};
}

QString ApplyRanges(const QString& value, std::vector<AddressRange>& into) {
  into.clear();
  for (const QString& text : value.split(QRegularExpression("[,\\s]+"), Qt::SkipEmptyParts)) {
    const auto range = AddressRange::Parse(text.toStdString());
    if (!range) return "needs ADDR or ADDR/BITS with an IPv4 or IPv6 address, not " + text;
    into.push_back(*range);
  }
  return {};
}

// "off", or CONNECTIONS/SECONDS/SECONDS: more than CONNECTIONS within the
// first time bans for the second.
QString ApplyAutoban(const QString& value, std::optional<Autoban>& into) {
  const QString text = value.trimmed().toLower();
  if (text == "off") {
    into.reset();
    return {};
  }
  const QString wrong = "needs off or CONNECTIONS/SECONDS/SECONDS, e.g. 20/60/300";
  const QStringList parts = text.split('/');
  if (parts.size() != 3) return wrong;
  bool valid = false;
  const int connections = parts[0].toInt(&valid);
  if (!valid || connections < 1 || connections > 100000) return wrong;
  Autoban rule{connections, {}, {}};
  if (!ApplySeconds(parts[1], rule.window, kMinHandshakeSeconds, kMaxSeconds, {}).isEmpty() ||
      !ApplySeconds(parts[2], rule.duration, kMinHandshakeSeconds, kMaxSeconds, {}).isEmpty()) {
    return wrong;
  }
  into = rule;
  return {};
}

QString ApplySwitch(const QString& value, bool& into) {
  const QString word = value.trimmed().toLower();
  if (word == "true" || word == "yes" || word == "on" || word == "1") {
    into = true;
  } else if (word == "false" || word == "no" || word == "off" || word == "0") {
    into = false;
  } else {
    return "needs true or false";
  }
  return {};
}

// Latin-1 text of at most `longest` bytes, or what is wrong with it.
QString ApplyLatin1(const QString& value, std::size_t longest, QByteArray& into) {
  const QByteArray bytes = value.toLatin1();
  if (QString::fromLatin1(bytes) != value) return "takes Latin-1 text only";
  if (static_cast<std::size_t>(bytes.size()) > longest) {
    return "takes at most " + QString::number(longest) + " bytes";
  }
  into = bytes;
  return {};
}

const std::vector<Setting>& Settings() {
  static const std::vector<Setting> settings{
      {"port", "port", "TCP port to listen on (default 10217; 0 picks a free one).", "10217",
       [](const QString& value, ServerOptions& options) -> QString {
         bool valid = false;
         const uint port = value.toUInt(&valid);
         if (!valid || port > 65535) return "needs a number from 0 to 65535";
         options.port = static_cast<std::uint16_t>(port);
         return {};
       }},
      {"listen", "address",
       "Address or host name to listen on; a name listens on every address it resolves to. "
       "Repeatable (default all interfaces, IPv6 and IPv4).",
       "",
       [](const QString& value, ServerOptions& options) -> QString {
         options.listen.clear();
         for (QString host : value.split(',', Qt::SkipEmptyParts)) {
           host = host.trimmed();
           if (host.isEmpty()) continue;
           if (QHostAddress(host).isNull() && !IsHostName(host)) {
             return "needs an IPv4 or IPv6 address or a host name, not " + host;
           }
           options.listen << host;
         }
         return {};
       },
       true},
      {"data-dir", "folder",
       "Folder holding characters/ and items/ (default the working directory).", "",
       [](const QString& value, ServerOptions& options) -> QString {
         if (value.isEmpty()) return {};
         if (!QFileInfo(value).isDir()) return "names no such folder: " + value;
         options.dataDir = value;
         return {};
       }},
      {"tick-ms", "ms", "Interval of the NPC timer in ms (default 5000).", "5000",
       [](const QString& value, ServerOptions& options) -> QString {
         bool valid = false;
         const int ms = value.toInt(&valid);
         if (!valid || ms <= 0) return "needs a positive number";
         options.tickMs = ms;
         return {};
       }},
      {"handshake-timeout", "seconds",
       "Seconds a new connection has to finish its handshake before it is closed and its slot "
       "freed; fractions allowed, e.g. 0.5 (default 10).",
       "10",
       [](const QString& value, ServerOptions& options) {
         return ApplySeconds(value, options.handshakeTimeout, kMinHandshakeSeconds, kMaxSeconds,
                             "0.001 to 86400");
       }},
      {"login-timeout", "seconds",
       "Seconds after its accept by which a connection must have sent its login, or it is "
       "closed; 0 for no limit (default 20).",
       "20",
       [](const QString& value, ServerOptions& options) {
         return ApplyOptionalSeconds(value, options.loginTimeout);
       }},
      {"idle-timeout", "seconds",
       "Seconds a connection may send nothing before it is closed; 0 for no limit (default 0).",
       "0",
       [](const QString& value, ServerOptions& options) {
         return ApplyOptionalSeconds(value, options.idleTimeout);
       }},
      {"allow", "addr[/bits]",
       "Serve only addresses in this IPv4 or IPv6 range; repeatable (default every address).", "",
       [](const QString& value, ServerOptions& options) {
         return ApplyRanges(value, options.admission.allow);
       },
       true, true},
      {"deny", "addr[/bits]",
       "Never serve addresses in this IPv4 or IPv6 range, even allowed ones; repeatable "
       "(default none).",
       "",
       [](const QString& value, ServerOptions& options) {
         return ApplyRanges(value, options.admission.deny);
       },
       true, true},
      {"max-per-address", "count",
       "Slots one address may hold at once; 0 for no limit (default 0).", "0",
       [](const QString& value, ServerOptions& options) {
         return ApplyCount(value, options.admission.maxPerAddress, 1000);
       }},
      {"autoban", "a/t/b",
       "An address opening more than A connections within T seconds is refused for B seconds; "
       "off to disable (default 20/60/300).",
       "20/60/300",
       [](const QString& value, ServerOptions& options) {
         return ApplyAutoban(value, options.admission.autoban);
       }},
      {"timeout-penalty", "seconds",
       "Seconds an address is refused after the handshake or login deadline closed one of its "
       "connections; 0 for never (default 60).",
       "60",
       [](const QString& value, ServerOptions& options) {
         return ApplyOptionalSeconds(value, options.admission.timeoutPenalty);
       }},
      {"relay-soft-limit", "bytes",
       "Relayed packets are dropped while their receiver has more than this many bytes waiting "
       "to be sent; 0 for no soft limit (default 262144).",
       "262144",
       [](const QString& value, ServerOptions& options) {
         return ApplyCount(value, options.relaySoftLimit, kSendBound);
       }},
      {"relay-rate", "packets",
       "Packets per second each connection may have relayed, bursts of twice that; 0 for no "
       "limit (default 200).",
       "200",
       [](const QString& value, ServerOptions& options) {
         return ApplyRate(value, options.relayRates.packetsPerSecond);
       }},
      {"relay-bytes", "bytes",
       "Bytes per second each connection may have relayed, bursts of twice that; 0 for no "
       "limit (default 262144).",
       "262144",
       [](const QString& value, ServerOptions& options) {
         return ApplyRate(value, options.relayRates.bytesPerSecond);
       }},
      {"require-character", "",
       "Refuse logins whose name has no character file, closing the connection (default off: "
       "such a login is served default data).",
       "false",
       [](const QString& value, ServerOptions& options) {
         return ApplySwitch(value, options.requireCharacter);
       }},
      {"login-rate", "n",
       "Logins handled per connection within any one second; further login packets in that "
       "second are read but ignored. 0 for no limit (default 4).",
       "4",
       [](const QString& value, ServerOptions& options) -> QString {
         bool valid = false;
         const int rate = value.toInt(&valid);
         if (!valid || rate < 0 || rate > kMaxLoginRate) return "needs a number from 0 to 1000";
         options.loginRate = rate;
         return {};
       }},
      {"library", "file",
       "Path of libkelvane (default libkelvane.so.1 beside the program, then the loader's "
       "search path).",
       "",
       [](const QString& value, ServerOptions& options) -> QString {
         options.library = value;
         return {};
       }},
      {"http", "address:port",
       "Serve /metrics (Prometheus), /health and /status over HTTP on this address and port, "
       "e.g. 127.0.0.1:9100 or [::1]:9100; port 0 picks a free one. Bind it to 127.0.0.1 or an "
       "address only monitoring reaches: it has no access control (default off).",
       "",
       [](const QString& value, ServerOptions& options) -> QString {
         if (value.isEmpty()) return {};
         const qsizetype colon = value.lastIndexOf(':');
         QString address = value.left(colon);
         if (address.startsWith('[') && address.endsWith(']')) address = address.mid(1).chopped(1);
         bool valid = false;
         const uint port = value.mid(colon + 1).toUInt(&valid);
         HttpAddress http;
         if (colon < 0 || !valid || port > 65535 || !http.address.setAddress(address)) {
           return "needs an address and a port, e.g. 127.0.0.1:9100, not " + value;
         }
         http.port = static_cast<std::uint16_t>(port);
         options.http = http;
         return {};
       }},
      {"headless", "",
       "Run without a window and write each log line to standard output. Chosen by itself when "
       "there is no display.",
       "false",
       [](const QString& value, ServerOptions& options) {
         return ApplySwitch(value, options.headless);
       }},
      {"log-file", "file",
       "Also append every line written to standard error to this file, each stamped with the "
       "time; SIGHUP reopens it, for log rotation (default none).",
       "",
       [](const QString& value, ServerOptions& options) -> QString {
         options.logFile = value;
         return {};
       },
       false, true},
      {"welcome-sender", "name",
       "Sender of the chat line that greets each login (default OrlanServer).",
       QString::fromUtf8(kDefaultWelcomeSender),
       [](const QString& value, ServerOptions& options) -> QString {
         if (value.contains('\n')) return "cannot hold a line break";
         return ApplyLatin1(value, kLongestWelcomeSender, options.welcomeSender);
       },
       false, true},
      {"welcome-text", "text",
       "Text of the chat line that greets each login (default \"Welcome to Orlan RP Server\").",
       QString::fromUtf8(kDefaultWelcomeText),
       [](const QString& value, ServerOptions& options) {
         return ApplyLatin1(value, kLongestWelcomeText, options.welcomeText);
       },
       false, true},
      {"control-socket", "path",
       "Listen for operator commands (quorvane-ctl) on a Unix socket at this path, mode 0660; "
       "a stale socket there is replaced, a live one refused (default none).",
       "",
       [](const QString& value, ServerOptions& options) -> QString {
         options.controlSocket = value;
         return {};
       }},
      {"ban-file", "file",
       "Keep the operator's bans in this file, read at start-up and on SIGHUP (default none: "
       "bans last until the server ends).",
       "",
       [](const QString& value, ServerOptions& options) -> QString {
         options.banFile = value;
         return {};
       }},
      {"shutdown-grace", "seconds",
       "On SIGTERM or SIGINT with players logged in, warn them and end this many seconds later; "
       "0 ends at once (default 10).",
       "10",
       [](const QString& value, ServerOptions& options) -> QString {
         bool valid = false;
         const int seconds = value.trimmed().toInt(&valid);
         if (!valid || seconds < 0 || seconds > 86400) return "needs whole seconds from 0 to 86400";
         options.shutdownGrace = std::chrono::seconds(seconds);
         return {};
       },
       false, true},
      {"shutdown-text", "text",
       "Text of the chat line that warns the players of a shutdown, followed by the seconds "
       "left (default \"The server is shutting down\").",
       "The server is shutting down",
       [](const QString& value, ServerOptions& options) {
         return ApplyLatin1(value, kLongestWelcomeText, options.shutdownText);
       },
       false, true},
      {"console", "",
       "Headless only: read operator commands from standard input and answer on standard output "
       "(default off).",
       "false",
       [](const QString& value, ServerOptions& options) {
         return ApplySwitch(value, options.console);
       }},
  };
  return settings;
}

CommandLine Failure(const QString& message) {
  CommandLine result;
  result.error = message;
  result.message = QString(kProgram) + ": " + message + "\n";
  result.messageIsError = true;
  result.exitStatus = 2;
  return result;
}

CommandLine Message(const QString& text) {
  CommandLine result;
  result.message = text;
  return result;
}

// The key = value pairs of a configuration file, with the line each stands on.
struct ConfigFile {
  struct Entry {
    QString value;
    int line = 0;
  };
  QMap<QString, Entry> entries;
  QString error;
};

// The line that holds `key` ("name", or "section/name" outside [General]).
int LineOf(const QStringList& lines, const QString& key) {
  const qsizetype slash = key.lastIndexOf('/');
  const QString section = slash < 0 ? QString("General") : key.left(slash);
  const QRegularExpression pattern("^\\s*" + QRegularExpression::escape(key.mid(slash + 1)) +
                                   "\\s*=");
  const QRegularExpression header("^\\s*\\[(.*)\\]\\s*$");
  QString current = "General";
  for (int i = 0; i < lines.size(); ++i) {
    if (const auto match = header.match(lines[i]); match.hasMatch()) {
      current = match.captured(1).trimmed();
    } else if (current == section && pattern.match(lines[i]).hasMatch()) {
      return i + 1;
    }
  }
  return 0;
}

ConfigFile ReadConfigFile(const QString& path) {
  ConfigFile file;
  QFile raw(path);
  if (!QFileInfo(path).isFile() || !raw.open(QIODevice::ReadOnly | QIODevice::Text)) {
    file.error = "cannot read the configuration file " + path;
    return file;
  }
  const QStringList lines = QTextStream(&raw).readAll().split('\n');

  const QSettings settings(path, QSettings::IniFormat);
  if (settings.status() != QSettings::NoError) {
    file.error = path + ": not a valid configuration file";
    return file;
  }
  for (const QString& key : settings.allKeys()) {
    const QVariant value = settings.value(key);
    // QSettings reads "a, b" as a list; a setting takes the text as written.
    const QString text = value.typeId() == QMetaType::QStringList ? value.toStringList().join(", ")
                                                                  : value.toString();
    file.entries.insert(key, {text, LineOf(lines, key)});
  }
  return file;
}

QString FilePlace(const QString& path, int line, const QString& key) {
  return path + ":" + QString::number(line) + ": " + key;
}

}  // namespace

CommandLine ParseCommandLine(const QStringList& arguments) {
  QCommandLineParser parser;
  parser.setApplicationDescription(
      "Quorvane: the map server of a two-player role-playing game. It loads the Kelvane cipher "
      "library, listens for clients and serves up to two of them.");
  const QCommandLineOption help({"h", "help"}, "Show this help and exit.");
  const QCommandLineOption version({"v", "version"}, "Show the version and exit.");
  const QCommandLineOption config(
      "config",
      "Read settings from this INI file: one key per option, same names and defaults; options "
      "on the command line win.",
      "file");
  parser.addOptions({help, version, config});
  std::vector<QCommandLineOption> options;
  for (const Setting& setting : Settings()) {
    options.emplace_back(setting.name, setting.help, setting.valueName);
    parser.addOption(options.back());
  }

  // Parsing comes before the application object exists, so Qt cannot name
  // the program in the usage line by itself.
  const QString usage = parser.helpText().replace("<executable_name>", kProgram);
  const QString hint = QString("\nTry '") + kProgram + " --help' for more information.";
  if (!parser.parse(arguments)) return Failure(parser.errorText() + hint);
  if (!parser.positionalArguments().isEmpty()) {
    return Failure("unexpected argument: " + parser.positionalArguments().first() + hint);
  }
  if (parser.isSet(help)) return Message(usage);
  if (parser.isSet(version)) return Message(QString(kProgram) + " " QUORVANE_VERSION "\n");

  ServerOptions result;
  ConfigFile file;
  if (parser.isSet(config)) {
    result.config = parser.value(config);
    file = ReadConfigFile(result.config);
    if (!file.error.isEmpty()) return Failure(file.error);
    for (auto entry = file.entries.cbegin(); entry != file.entries.cend(); ++entry) {
      const bool known = std::any_of(Settings().begin(), Settings().end(),
                                     [&](const Setting& s) { return s.name == entry.key(); });
      if (!known) {
        return Failure(FilePlace(result.config, entry->line, entry.key()) + ": unknown key");
      }
    }
  }

  // Default, then the file, then the command line: each may overrule the one
  // before, and every value given is checked, also one that is overruled.
  for (std::size_t i = 0; i < Settings().size(); ++i) {
    const Setting& setting = Settings()[i];
    QString& given = result.given[setting.name];
    given = setting.defaultValue;
    const QString error = setting.apply(given, result);
    Q_ASSERT(error.isEmpty());
    if (const auto entry = file.entries.constFind(setting.name); entry != file.entries.cend()) {
      given = entry->value;
      const QString error = setting.apply(given, result);
      if (!error.isEmpty()) {
        return Failure(FilePlace(result.config, entry->line, setting.name) + " " + error);
      }
    }
    if (parser.isSet(options[i])) {
      given = setting.valueName.isEmpty() ? QString("true")
              : setting.repeatable        ? parser.values(options[i]).join(',')
                                          : parser.value(options[i]);
      const QString error = setting.apply(given, result);
      if (!error.isEmpty()) return Failure("--" + setting.name + " " + error);
    }
  }

  CommandLine parsed;
  parsed.options = result;
  return parsed;
}

QStringList SettingsAwaitingRestart(const ServerOptions& running, const ServerOptions& reread) {
  QStringList waiting;
  for (const Setting& setting : Settings()) {
    if (!setting.reloadable &&
        running.given.value(setting.name) != reread.given.value(setting.name)) {
      waiting << setting.name;
    }
  }
  return waiting;
}

QString LibraryToLoad(const QString& option, const QString& executableDir) {
  if (!option.isEmpty()) return option;
  const QString beside = QDir(executableDir).filePath(kLibraryFileName);
  if (QFileInfo::exists(beside)) return beside;
  return kLibraryFileName;
}

}  // namespace quorvane
