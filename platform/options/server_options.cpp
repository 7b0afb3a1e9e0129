#include "platform/options/server_options.h"

#include <QCommandLineParser>
#include <algorithm>

#include "ini_file.h"
#include "option_table.h"

namespace quorvane {
namespace {

constexpr char kProgram[] = "quorvane";
constexpr char kHint[] = " Try 'quorvane --help'.";

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

QString HelpOf(const Option& option) {
  return Plain(option.text.help) + (option.text.repeatable ? " Repeatable." : "") +
         " Default: " + Plain(DefaultInWords(option)) + ".";
}

QCommandLineOption CommandLineOption(const ProgramOption& option) {
  return QCommandLineOption(option.names, Plain(option.help), option.valueName);
}

// Qt's reason, as the rest of the program's messages word theirs.
QString ParseError(const QCommandLineParser& parser) {
  const QStringList unknown = parser.unknownOptionNames();
  if (!unknown.isEmpty()) {
    const QString& name = unknown.first();
    return "unknown option " + QString(name.size() == 1 ? "-" : "--") + name + "." + kHint;
  }
  QString reason = parser.errorText();
  if (!reason.isEmpty()) reason[0] = reason[0].toLower();
  return reason + kHint;
}

// What is wrong when the file holds a key that names no option.
QString CheckKeys(const IniFile& file, const QString& path) {
  for (const IniEntry& entry : file.entries) {
    const bool known =
        std::any_of(OptionTable().begin(), OptionTable().end(),
                    [&](const Option& option) { return option.text.name == entry.key; });
    if (!known)
      return path + ":" + QString::number(entry.line) + ": " + entry.key + ": unknown key";
  }
  return {};
}

const IniEntry* EntryOf(const IniFile& file, const QString& key) {
  for (const IniEntry& entry : file.entries) {
    if (entry.key == key) return &entry;
  }
  return nullptr;
}

}  // namespace

CommandLine ParseCommandLine(const QStringList& arguments) {
  return ParseCommandLine(arguments, QProcessEnvironment::systemEnvironment());
}

CommandLine ParseCommandLine(const QStringList& arguments, const QProcessEnvironment& environment) {
  QCommandLineParser parser;
  parser.setApplicationDescription(
      "Quorvane: the map server of a two-player role-playing game. It loads the Kelvane cipher "
      "library, listens for clients and serves up to two of them. Every option is also a key "
      "of the --config file and a variable of the environment: QUORVANE_PORT for --port.");
  std::vector<QCommandLineOption> programOptions;
  for (const ProgramOption& option : ProgramOptions()) {
    programOptions.push_back(CommandLineOption(option));
    parser.addOption(programOptions.back());
  }
  const QCommandLineOption& config = programOptions[0];
  const QCommandLineOption& help = programOptions[1];
  const QCommandLineOption& version = programOptions[2];
  std::vector<QCommandLineOption> options;
  for (const Option& option : OptionTable()) {
    options.emplace_back(option.text.name, HelpOf(option), option.valueName);
    parser.addOption(options.back());
  }

  if (!parser.parse(arguments)) return Failure(ParseError(parser));
  if (!parser.positionalArguments().isEmpty()) {
    return Failure("unexpected argument " + parser.positionalArguments().first() + "." + kHint);
  }
  // Parsing comes before the application object exists, so Qt cannot name
  // the program in the usage line by itself.
  if (parser.isSet(help)) return Message(parser.helpText().replace("<executable_name>", kProgram));
  if (parser.isSet(version)) return Message(QString(kProgram) + " " QUORVANE_VERSION "\n");

  ServerOptions result;
  result.config = parser.isSet(config) ? parser.value(config)
                                       : environment.value(EnvironmentVariable(kConfigOption));
  IniFile file;
  if (!result.config.isEmpty()) {
    file = ReadIniFile(result.config);
    if (!file.error.isEmpty()) return Failure(file.error);
    if (const QString error = CheckKeys(file, result.config); !error.isEmpty()) {
      return Failure(error);
    }
  }

  // Each source may overrule the one before; every value given is checked.
  for (std::size_t i = 0; i < OptionTable().size(); ++i) {
    const Option& option = OptionTable()[i];
    const QString& name = option.text.name;
    QString& given = result.given[name];
    given = option.defaultText;
    option.applyDefault(result);
    const auto take = [&](const QString& value, const QString& place) {
      given = value;
      const QString error = option.apply(value, result);
      return error.isEmpty() ? error : place + " " + error;
    };
    if (const IniEntry* entry = EntryOf(file, name)) {
      const QString place = result.config + ":" + QString::number(entry->line) + ": " + name;
      if (const QString error = take(entry->value, place); !error.isEmpty()) return Failure(error);
    }
    const QString variable = EnvironmentVariable(name);
    if (environment.contains(variable)) {
      if (const QString error = take(environment.value(variable), variable); !error.isEmpty()) {
        return Failure(error);
      }
    }
    if (parser.isSet(options[i])) {
      const QString value = option.IsSwitch()        ? QString("true")
                            : option.text.repeatable ? parser.values(options[i]).join(',')
                                                     : parser.value(options[i]);
      if (const QString error = take(value, "--" + name); !error.isEmpty()) return Failure(error);
    }
  }

  CommandLine parsed;
  parsed.options = result;
  return parsed;
}

QStringList SettingsAwaitingRestart(const ServerOptions& running, const ServerOptions& reread) {
  QStringList waiting;
  for (const Option& option : OptionTable()) {
    const QString& name = option.text.name;
    if (!option.text.reloadable && running.given.value(name) != reread.given.value(name)) {
      waiting << name;
    }
  }
  return waiting;
}

}  // namespace quorvane
