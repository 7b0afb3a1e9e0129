#include "server_options.h"

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

namespace quorvane {
namespace {

constexpr char kProgram[] = "quorvane";

// A day is far beyond any real client; the bound keeps the milliseconds in range.
constexpr double kMinHandshakeSeconds = 0.001;
constexpr double kMaxHandshakeSeconds = 86400;

// One setting: `--name VALUE` on the command line, `name = VALUE` in the file.
struct Setting {
  QString name;
  QString valueName;  // empty for a switch, which takes true or false in the file
  QString help;
  QString defaultValue;
  // Stores `value` in `options`; returns what is wrong with it, empty when nothing is.
  std::function<QString(const QString& value, ServerOptions& options)> apply;
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
      {"listen", "address", "Address to listen on (default all interfaces).", "",
       [](const QString& value, ServerOptions& options) -> QString {
         if (value.isEmpty()) return {};
         if (!options.listen.setAddress(value)) {
           return "needs an IPv4 or IPv6 address, not " + value;
         }
         return {};
       }},
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
       "freed; fractions allowed, e.g. 0.5 (default 30).",
       "30",
       [](const QString& value, ServerOptions& options) {
         return ApplySeconds(value, options.handshakeTimeout, kMinHandshakeSeconds,
                             kMaxHandshakeSeconds, "0.001 to 86400");
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
  };
  return settings;
}

CommandLine Failure(const QString& message) {
  CommandLine result;
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

  for (std::size_t i = 0; i < Settings().size(); ++i) {
    const Setting& setting = Settings()[i];
    QString error;
    if (parser.isSet(options[i])) {
      error =
          setting.apply(setting.valueName.isEmpty() ? "true" : parser.value(options[i]), result);
      if (!error.isEmpty()) return Failure("--" + setting.name + " " + error);
    } else if (const auto entry = file.entries.constFind(setting.name);
               entry != file.entries.cend()) {
      error = setting.apply(entry->value, result);
      if (!error.isEmpty()) {
        return Failure(FilePlace(result.config, entry->line, setting.name) + " " + error);
      }
    } else {
      error = setting.apply(setting.defaultValue, result);
      Q_ASSERT(error.isEmpty());
    }
  }

  CommandLine parsed;
  parsed.options = result;
  return parsed;
}

QString LibraryToLoad(const QString& option, const QString& executableDir) {
  if (!option.isEmpty()) return option;
  const QString beside = QDir(executableDir).filePath(kLibraryFileName);
  if (QFileInfo::exists(beside)) return beside;
  return kLibraryFileName;
}

}  // namespace quorvane
