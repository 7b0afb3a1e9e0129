// The option table: every setting of the program in one row, the single
// source of the command line, the configuration file's keys, the
// environment's variables, --help and the generated docs.
#pragma once

#include <QString>
#include <QStringList>
#include <functional>
#include <type_traits>
#include <vector>

#include "option_values.h"
#include "platform/options/server_options.h"

namespace quorvane {

// What a row says in words. Text between backquotes is literal: the man
// page sets it in bold, Markdown as code, --help and the file as it is.
struct OptionText {
  // `--name` on the command line, `name =` in the file, QUORVANE_NAME in the
  // environment.
  QString name;
  // One or two sentences for --help and the example file, without the default.
  QString help;
  // More for the manual and the operator guide, after the help; may be empty.
  QString details = {};
  // The default in words where its text alone does not say it, e.g. "no
  // limit" for 0 or "every interface" for nothing.
  QString defaultMeaning = {};
  // May be given more than once; the file and the environment give a list as
  // "a, b".
  bool repeatable = false;
  // SIGHUP puts a changed value into effect; the others wait for a restart.
  bool reloadable = false;
};

struct Option {
  OptionText text;
  QString valueName;  // empty for a switch
  QString accepts;
  QString defaultText;
  Completion completion = Completion::kNothing;
  QStringList words;
  // Stores `value` in `options`; returns what is wrong with it, empty when
  // nothing is.
  std::function<QString(const QString& value, ServerOptions& options)> apply;
  std::function<void(ServerOptions& options)> applyDefault;

  bool IsSwitch() const { return valueName.isEmpty(); }
};

// A row for the member of ServerOptions that `Path` leads to, e.g.
// Row<&ServerOptions::port>(Port(), kDefaultPort, {...}).
template <auto... Path, typename T>
Option Row(const ValueType<T>& type, const std::type_identity_t<T>& defaultValue, OptionText text) {
  const auto field = [](ServerOptions& options) -> T& { return (options.*....*Path); };
  return Option{std::move(text),
                type.valueName,
                type.accepts,
                type.write(defaultValue),
                type.completion,
                type.words,
                [read = type.read, field](const QString& value, ServerOptions& options) {
                  return read(value, field(options));
                },
                [defaultValue, field](ServerOptions& options) { field(options) = defaultValue; }};
}

const std::vector<Option>& OptionTable();

// The variable of the environment that sets `option`: QUORVANE_LOG_FILE for
// log-file.
QString EnvironmentVariable(const QString& name);

// The default as the docs say it: "10217", "0 (no limit)", "the working
// directory", "off".
QString DefaultInWords(const Option& option);
// `text` without its backquotes, as --help and the example file show it.
QString Plain(const QString& text);

// The options of the command line alone, for --help and the docs.
struct ProgramOption {
  QStringList names;  // {"h", "help"}: -h and --help
  QString valueName;  // empty when it takes none
  QString help;
  Completion completion = Completion::kNothing;
};
const std::vector<ProgramOption>& ProgramOptions();

// --config, which the environment may also name.
inline constexpr char kConfigOption[] = "config";

}  // namespace quorvane
