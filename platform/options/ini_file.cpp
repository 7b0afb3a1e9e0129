#include "ini_file.h"

#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <cerrno>
#include <cstring>
#include <optional>

namespace quorvane {
namespace {

// The text of a quoted value from just after its opening quote, with what
// follows the closing one in `rest`; nothing when it is not closed or holds
// an unknown escape.
std::optional<QString> Unquote(const QString& text, QString& rest) {
  QString value;
  for (qsizetype i = 0; i < text.size(); ++i) {
    const QChar c = text[i];
    if (c == '"') {
      rest = text.mid(i + 1);
      return value;
    }
    if (c != '\\') {
      value += c;
      continue;
    }
    if (++i == text.size()) return std::nullopt;
    switch (text[i].unicode()) {
      case '"':
      case '\\':
        value += text[i];
        break;
      case 't':
        value += '\t';
        break;
      case 'n':
        value += '\n';
        break;
      default:
        return std::nullopt;
    }
  }
  return std::nullopt;
}

// The value written after "=", or what is wrong with it in `error`.
QString ValueOf(const QString& written, QString& error) {
  const QString text = written.trimmed();
  if (!text.startsWith('"')) return text.left(text.indexOf(';')).trimmed();
  QString rest;
  const auto value = Unquote(text.mid(1), rest);
  rest = rest.trimmed();
  if (!value || !(rest.isEmpty() || rest.startsWith(';') || rest.startsWith('#'))) {
    error = "a quoted value needs its closing quote and no more (escapes: \\\" \\\\ \\t \\n)";
    return {};
  }
  return *value;
}

}  // namespace

IniFile ParseIniText(const QString& path, const QString& text) {
  static const QRegularExpression section("^\\[([^\\]]*)\\]$");
  static const QRegularExpression assignment("^([A-Za-z0-9_.-]+)\\s*=(.*)$");
  IniFile file;
  QString prefix;
  const QStringList lines = text.split('\n');
  for (qsizetype i = 0; i < lines.size(); ++i) {
    const int number = static_cast<int>(i) + 1;
    const QString place = path + ":" + QString::number(number) + ": ";
    const QString line = lines[i].trimmed();
    if (line.isEmpty() || line.startsWith('#') || line.startsWith(';')) continue;
    if (const auto match = section.match(line); match.hasMatch()) {
      const QString name = match.captured(1).trimmed();
      prefix = name == "General" ? QString() : name + "/";
      continue;
    }
    const auto match = assignment.match(line);
    if (!match.hasMatch()) {
      file.error = place + "neither a comment, a [section] nor key = value: " + line;
      return file;
    }
    const QString key = prefix + match.captured(1);
    QString error;
    const QString value = ValueOf(match.captured(2), error);
    if (!error.isEmpty()) {
      file.error = place + key + ": " + error;
      return file;
    }
    for (const IniEntry& earlier : file.entries) {
      if (earlier.key == key) {
        file.error = place + key + ": given twice, first on line " + QString::number(earlier.line);
        return file;
      }
    }
    file.entries.push_back({key, value, number});
  }
  return file;
}

IniFile ReadIniFile(const QString& path) {
  QFile raw(path);
  if (QFileInfo(path).isDir()) return {{}, path + ": " + std::strerror(EISDIR)};
  // Qt words a failed open as strerror does: "No such file or directory".
  if (!raw.open(QIODevice::ReadOnly)) return {{}, path + ": " + raw.errorString()};
  QString text = QString::fromUtf8(raw.readAll());
  if (raw.error() != QFileDevice::NoError) return {{}, path + ": " + raw.errorString()};
  if (text.startsWith(QChar(0xFEFF))) text.remove(0, 1);
  text.remove('\r');
  return ParseIniText(path, text);
}

}  // namespace quorvane
