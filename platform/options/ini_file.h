// The configuration file: a strict reader of INI text. A line is blank, a
// comment (# or ;), a section ([General]) or `key = value`; anything else is
// an error, as is a key given twice.
#pragma once

#include <QString>
#include <vector>

namespace quorvane {

struct IniEntry {
  // "name" in [General] or before any section, "section/name" elsewhere.
  QString key;
  QString value;
  int line = 0;
};

struct IniFile {
  std::vector<IniEntry> entries;
  // "PATH:LINE: reason" or "PATH: reason"; empty when the file was read.
  QString error;
};

// A value is the text after "=" up to a ";" comment, blanks trimmed, or a
// "quoted" text, which may hold ";" and "\"", "\\", "\t" and "\n".
IniFile ReadIniFile(const QString& path);
IniFile ParseIniText(const QString& path, const QString& text);

}  // namespace quorvane
