#include "option_docs.h"

#include <QRegularExpression>
#include <QStringList>

#include "option_table.h"

namespace quorvane {
namespace {

// `text` in lines of at most `width` characters, each after `prefix`.
QString Wrapped(const QString& text, const QString& prefix, qsizetype width) {
  QString out;
  QString line;
  for (const QString& word : text.split(' ', Qt::SkipEmptyParts)) {
    if (!line.isEmpty() && prefix.size() + line.size() + 1 + word.size() > width) {
      out += prefix + line + "\n";
      line.clear();
    }
    line += (line.isEmpty() ? "" : " ") + word;
  }
  if (!line.isEmpty()) out += prefix + line + "\n";
  return out;
}

// `items`, each but the last followed by `separator`, joined by blanks, the first line starting at
// `column`, each further one after `indent`, broken before `width` with `lineEnd`.
QString Filled(const QStringList& items, const QString& separator, qsizetype column,
               const QString& lineEnd, const QString& indent, qsizetype width) {
  QString out;
  for (qsizetype i = 0; i < items.size(); ++i) {
    const QString item = items[i] + (i + 1 < items.size() ? separator : QString());
    if (i > 0 && column + 1 + item.size() > width) {
      out += lineEnd + "\n" + indent;
      column = indent.size();
    } else if (i > 0) {
      out += " ";
      ++column;
    }
    out += item;
    column += item.size();
  }
  return out;
}

// The sentences that every reader gets about one option after its help.
QString Description(const Option& option, bool withDetails) {
  QString text = option.text.help;
  if (withDetails && !option.text.details.isEmpty()) text += " " + option.text.details;
  if (!option.IsSwitch() && !option.accepts.isEmpty()) text += " Takes " + option.accepts + ".";
  if (option.text.repeatable) text += " Repeatable, or a comma-separated list.";
  if (option.text.reloadable) text += " SIGHUP applies a change.";
  return text;
}

QString ValueName(const Option& option) {
  return option.valueName.toUpper();
}

QString ProgramOptionNames(const ProgramOption& option, const QString& bold,
                           const QString& boldEnd) {
  QStringList names;
  for (const QString& name : option.names) {
    names << bold + (name.size() == 1 ? "-" : "--") + name + boldEnd;
  }
  return names.join(", ");
}

// scdoc: backquoted text in bold, the rest with its markup characters escaped.
QString Scdoc(const QString& text) {
  QString out;
  const QStringList parts = text.split('`');
  for (qsizetype i = 0; i < parts.size(); ++i) {
    QString part = parts[i];
    part.replace('\\', "\\\\").replace('*', "\\*").replace('_', "\\_");
    out += i % 2 == 1 ? "*" + part + "*" : part;
  }
  return out;
}

QString MarkdownCell(const QString& text) {
  return QString(text).replace('|', "\\|");
}

// A value as the file writes it, quoted when it would not read back as is.
QString IniValue(const QString& value) {
  if (!value.contains(QRegularExpression("[;\"\\\\\\t\\n]|^\\s|\\s$"))) return value;
  QString escaped = value;
  escaped.replace('\\', "\\\\").replace('"', "\\\"").replace('\t', "\\t").replace('\n', "\\n");
  return "\"" + escaped + "\"";
}

}  // namespace

QString ExampleConfigFile() {
  QString out =
      "; quorvane.conf: settings of the quorvane map server.\n"
      ";\n" +
      Wrapped(
          "One \"key = value\" line per option of `quorvane --help`, the key being the "
          "option's name without the dashes. Every key below is commented out and shows its "
          "default; remove the \";\" to change one. A variable of the environment "
          "(QUORVANE_PORT for port) wins over this file, and an option on the command line "
          "wins over both. Switches take true or false; a list is written \"a, b\"; a "
          "value in double quotes may hold \";\". An unknown key, a key given twice or a "
          "line that is none of these is an error.",
          "; ", 78);
  for (const Option& option : OptionTable()) {
    out += "\n" + Wrapped(Plain(Description(option, false)), "; ", 78) + ";" + option.text.name +
           " = " + IniValue(option.defaultText) + "\n";
  }
  return out.replace(" \n", "\n");
}

QString ManPageOptions() {
  QString out = Wrapped(Scdoc("Every option is also a key of the `--config` file, its name "
                              "without the dashes, and a variable of the environment: "
                              "`QUORVANE_` and the name in upper case with `_` for `-`, e.g. "
                              "`QUORVANE_LOG_FILE`. There a switch takes `true` or `false` and a "
                              "repeatable option a comma-separated list. The command line wins "
                              "over the environment, the environment over the file."),
                        "", 80);
  for (const Option& option : OptionTable()) {
    out += "\n*--" + Scdoc(option.text.name) + "*" +
           (option.IsSwitch() ? QString() : " _" + Scdoc(ValueName(option)) + "_") + "\n";
    out += Wrapped(Scdoc(Description(option, true) + " Default: " + DefaultInWords(option) +
                         ". Environment `" + EnvironmentVariable(option.text.name) + "`."),
                   "\t", 80);
  }
  for (const ProgramOption& option : ProgramOptions()) {
    out += "\n" + ProgramOptionNames(option, "*", "*") +
           (option.valueName.isEmpty() ? QString() : " _" + option.valueName.toUpper() + "_") +
           "\n" + Wrapped(Scdoc(option.help), "\t", 80);
  }
  return out;
}

QString MarkdownOptions() {
  QString out =
      "| Option | Environment | Default | Meaning |\n"
      "|---|---|---|---|\n";
  for (const Option& option : OptionTable()) {
    const QString value = option.IsSwitch() ? QString() : " " + ValueName(option);
    out += "| `--" + option.text.name + value + "` | `" + EnvironmentVariable(option.text.name) +
           "` | " + MarkdownCell(DefaultInWords(option)) + " | " +
           MarkdownCell(Description(option, true)) + " |\n";
  }
  for (const ProgramOption& option : ProgramOptions()) {
    const QString value = option.valueName.isEmpty() ? QString() : " " + option.valueName.toUpper();
    const QString environment = option.names.first() == kConfigOption
                                    ? "`" + EnvironmentVariable(kConfigOption) + "`"
                                    : QString();
    const QStringList cells{ProgramOptionNames(option, "`", value + "`"), environment, "",
                            MarkdownCell(option.help)};
    out += "| " + cells.join(" | ") + " |\n";
  }
  return out;
}

QString BashCompletion() {
  QStringList folders, files, nothing, all;
  QString words;
  const auto place = [&](const QString& flag, Completion completion, const QStringList& offered) {
    all << flag;
    switch (completion) {
      case Completion::kFolder:
        folders << flag;
        break;
      case Completion::kFile:
        files << flag;
        break;
      case Completion::kWords:
        words += "    " + flag + ")\n      mapfile -t COMPREPLY < <(compgen -W '" +
                 offered.join(' ') + "' -- \"$cur\")\n      return\n      ;;\n";
        break;
      case Completion::kNothing:
        nothing << flag;
        break;
    }
  };
  for (const Option& option : OptionTable()) {
    if (option.IsSwitch()) {
      all << "--" + option.text.name;
    } else {
      place("--" + option.text.name, option.completion, option.words);
    }
  }
  for (const ProgramOption& option : ProgramOptions()) {
    const QString flag = "--" + option.names.last();
    if (option.valueName.isEmpty()) {
      all << flag;
    } else {
      place(flag, option.completion, {});
    }
  }
  // A case of the options in `flags`, wrapped as shfmt would.
  const auto branch = [](const QStringList& flags, const QString& body) {
    if (flags.isEmpty()) return QString();
    return "    " + Filled(flags, " |", 4, " \\", "      ", 96) + ")\n" + body;
  };
  return "# bash completion for quorvane(1), written from its option table\n"
         "_quorvane() {\n"
         "  local cur=${COMP_WORDS[COMP_CWORD]} prev=${COMP_WORDS[COMP_CWORD - 1]}\n"
         "  case $prev in\n" +
         branch(
             folders,
             "      mapfile -t COMPREPLY < <(compgen -d -- \"$cur\")\n      return\n      ;;\n") +
         branch(
             files,
             "      mapfile -t COMPREPLY < <(compgen -f -- \"$cur\")\n      return\n      ;;\n") +
         words + branch(nothing, "      COMPREPLY=()\n      return\n      ;;\n") +
         "  esac\n"
         "  mapfile -t COMPREPLY < <(compgen -W '" +
         Filled(all, "", 40, "", "    ", 96) +
         "' -- \"$cur\")\n"
         "}\n"
         "complete -o filenames -F _quorvane quorvane\n";
}

}  // namespace quorvane
