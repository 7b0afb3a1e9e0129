#include "data_command.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <QCommandLineParser>
#include <QDir>
#include <QFileInfo>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>

#include "record_encoding.h"
#include "record_text.h"
#include "session/character_fields.h"

namespace quorvane::data {
namespace {

constexpr int kDone = 0;
constexpr int kFileError = 1;
constexpr int kUsageError = 2;

constexpr char kUsage[] =
    "Usage: quorvane-data COMMAND [options] FILE\n"
    "Reads and writes the server's character and item files.\n"
    "\n"
    "Commands:\n"
    "  show FILE            print a character file's 24 fields or an item file's records\n"
    "  new-character FILE   write a character file from --level, --class, --posx, ...\n"
    "  new-items FILE       write an item file from --item options\n"
    "\n"
    "Run quorvane-data COMMAND --help for the options of a command,\n"
    "quorvane-data --version for the version.\n";

class UsageError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class FileError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

std::string Text(const QString& text) {
  return text.toStdString();
}

// Qt's parser errors as the rest read: "Unknown option 'x'." becomes
// "unknown option 'x'".
std::string ParserError(const QCommandLineParser& parser) {
  QString text = parser.errorText();
  if (text.endsWith('.')) text.chop(1);
  if (!text.isEmpty()) text[0] = text[0].toLower();
  return Text(text);
}

// Parses the command's arguments; false when the command is done already
// (help printed).
bool Parse(QCommandLineParser& parser, const QStringList& arguments, std::ostream& out) {
  const QCommandLineOption help({"h", "help"}, "Show this help.");
  parser.addOption(help);
  if (!parser.parse(arguments)) throw UsageError(ParserError(parser));
  if (parser.isSet(help)) {
    // Qt's first line names the executable's path; name the command instead.
    const QString text = parser.helpText();
    out << "Usage: " << Text(arguments.front()) << " [options] FILE\n"
        << Text(text.mid(text.indexOf('\n') + 1));
    return false;
  }
  if (parser.positionalArguments().size() != 1) throw UsageError("expected exactly one FILE");
  return true;
}

std::int64_t ParseInteger(const QString& text, std::int64_t min, std::int64_t max,
                          const std::string& what) {
  bool ok = false;
  const qlonglong value = text.toLongLong(&ok);
  if (!ok || value < min || value > max) {
    throw UsageError(what + " must be an integer from " + std::to_string(min) + " to " +
                     std::to_string(max) + ", not \"" + Text(text) + "\"");
  }
  return value;
}

// Far beyond any character or item file; the bound keeps a mistaken path to a
// huge file from being read whole.
constexpr off_t kLargestDataFile = 1 << 20;

// Opened without blocking, so a FIFO or device named by mistake is refused
// instead of waited on.
Bytes ReadFile(const std::filesystem::path& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) throw FileError("cannot open " + path.string() + ": " + std::strerror(errno));
  const struct Closer {
    int fd;
    ~Closer() { ::close(fd); }
  } closer{fd};
  struct stat status {};
  if (::fstat(fd, &status) != 0) {
    throw FileError("cannot read " + path.string() + ": " + std::strerror(errno));
  }
  if (S_ISDIR(status.st_mode)) throw FileError(path.string() + " is a folder, not a file");
  if (!S_ISREG(status.st_mode)) throw FileError(path.string() + " is not a regular file");
  if (status.st_size > kLargestDataFile) {
    throw FileError(path.string() + " is too large for a character or item file (" +
                    std::to_string(status.st_size) + " bytes)");
  }
  Bytes bytes(static_cast<std::size_t>(status.st_size));
  std::size_t filled = 0;
  while (filled < bytes.size()) {
    const ssize_t got = ::read(fd, bytes.data() + filled, bytes.size() - filled);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) throw FileError("cannot read " + path.string() + ": " + std::strerror(errno));
    if (got == 0) break;
    filled += static_cast<std::size_t>(got);
  }
  bytes.resize(filled);
  return bytes;
}

void WriteFile(const std::filesystem::path& path, const Bytes& bytes, bool force) {
  if (!force && std::filesystem::exists(path)) {
    throw FileError(path.string() + " exists; use --force to replace it");
  }
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  file.write(reinterpret_cast<const char*>(bytes.data()),
             static_cast<std::streamsize>(bytes.size()));
  file.close();
  if (!file) throw FileError("cannot write " + path.string() + ": " + std::strerror(errno));
}

enum class FileKind { kCharacter, kItems };

// What --type says, nothing when it is not given.
std::optional<FileKind> KindNamed(const QString& type) {
  if (type.isEmpty()) return std::nullopt;
  const QString kind = type.toLower();
  if (kind == "character") return FileKind::kCharacter;
  if (kind == "items") return FileKind::kItems;
  throw UsageError("--type must be character or items, not \"" + Text(type) + "\"");
}

// From the folder the file lies in.
FileKind KindFromFolder(const QString& file) {
  const QString folder = QFileInfo(file).absoluteDir().dirName().toLower();
  if (folder == "characters") return FileKind::kCharacter;
  if (folder == "items") return FileKind::kItems;
  throw UsageError("cannot tell the kind of " + Text(file) +
                   " from its folder; use --type character or --type items");
}

int Show(const QStringList& arguments, std::ostream& out) {
  QCommandLineParser parser;
  parser.setApplicationDescription(
      "Prints a character file's fields or an item file's records. The kind comes from the\n"
      "folder (characters or items) unless --type says it.");
  const QCommandLineOption type("type", "character or items.", "kind");
  parser.addOption(type);
  parser.addPositionalArgument("FILE", "The file to show.");
  if (!Parse(parser, arguments, out)) return kDone;

  const QString file = parser.positionalArguments().front();
  const std::optional<FileKind> named = KindNamed(parser.value(type));
  // A file that cannot be read says so, whatever folder it would be in.
  const Bytes bytes = ReadFile(file.toStdString());
  const FileKind kind = named ? *named : KindFromFolder(file);
  out << (kind == FileKind::kCharacter ? DescribeCharacterFile(bytes) : DescribeItemFile(bytes));
  return kDone;
}

std::array<std::uint8_t, kCharacterNameWidth> NameBytes(const QString& name) {
  const QByteArray bytes = name.toLatin1();
  if (bytes.size() > static_cast<qsizetype>(kCharacterNameWidth) ||
      QString::fromLatin1(bytes) != name) {
    throw UsageError("--name takes up to 18 Latin-1 characters");
  }
  std::array<std::uint8_t, kCharacterNameWidth> field{};
  std::copy(bytes.begin(), bytes.end(), field.begin());
  return field;
}

QCommandLineOption ForceOption() {
  return QCommandLineOption("force", "Replace the file when it exists.");
}

void WarnIfOutside(std::ostream& err, std::string_view name, std::int64_t value, std::int64_t min,
                   std::int64_t max) {
  if (value < min || value > max) {
    err << "quorvane-data: warning: " << name << " " << value << " lies outside " << min << ".."
        << max << "; the server will not send it as intended\n";
  }
}

int NewCharacter(const QStringList& arguments, std::ostream& out, std::ostream& err) {
  QCommandLineParser parser;
  parser.setApplicationDescription(
      "Writes a character file (116 bytes). Fields left out are 0. The file name is the\n"
      "character's login name; put it in the characters folder.");
  const QCommandLineOption name("name", "The record's Name text (never sent).", "text");
  parser.addOption(name);
  std::vector<QCommandLineOption> fieldOptions;
  for (const auto& field : NumericCharacterFields()) {
    const QString fieldName = QString::fromLatin1(field.name.data(), field.name.size());
    fieldOptions.emplace_back(fieldName.toLower(),
                              QString("%1, %2 to %3.").arg(fieldName).arg(field.min).arg(field.max),
                              "n");
    parser.addOption(fieldOptions.back());
  }
  const QCommandLineOption force = ForceOption();
  parser.addOption(force);
  parser.addPositionalArgument("FILE", "The character file to write.");
  if (!Parse(parser, arguments, out)) return kDone;

  CharacterRecord record;
  record.Name = NameBytes(parser.value(name));
  const auto fields = NumericCharacterFields();
  for (std::size_t i = 0; i < fields.size(); ++i) {
    if (!parser.isSet(fieldOptions[i])) continue;
    const auto& field = fields[i];
    const std::string option = "--" + Text(fieldOptions[i].names().front());
    const std::int64_t value =
        ParseInteger(parser.value(fieldOptions[i]), field.min, field.max, option);
    WarnIfOutside(err, field.name, value, field.sendMin, field.sendMax);
    field.set(record, value);
  }
  WriteFile(parser.positionalArguments().front().toStdString(), EncodeCharacterRecord(record),
            parser.isSet(force));
  return kDone;
}

ItemRecord ParseItem(const QString& text) {
  const QStringList parts = text.split(',');
  if (parts.size() != 5) {
    throw UsageError("--item takes KIND,INDEX,WORD1,WORD2,COUNT, not \"" + Text(text) + "\"");
  }
  constexpr std::int64_t kByteMax = 255;
  constexpr std::int64_t kInt16Min = -32768;
  constexpr std::int64_t kInt16Max = 32767;
  return ItemRecord{
      .Kind = static_cast<std::uint8_t>(ParseInteger(parts[0], 0, kByteMax, "KIND")),
      .Index = static_cast<std::uint8_t>(ParseInteger(parts[1], 0, kByteMax, "INDEX")),
      .Word1 = static_cast<std::int16_t>(ParseInteger(parts[2], kInt16Min, kInt16Max, "WORD1")),
      .Word2 = static_cast<std::int16_t>(ParseInteger(parts[3], kInt16Min, kInt16Max, "WORD2")),
      .Count = static_cast<std::int16_t>(ParseInteger(parts[4], kInt16Min, kInt16Max, "COUNT")),
  };
}

int NewItems(const QStringList& arguments, std::ostream& out, std::ostream& err) {
  QCommandLineParser parser;
  parser.setApplicationDescription(
      "Writes an item file: one 8-byte record per --item, in the order given, at most 16.\n"
      "A record with COUNT 0 or less is an empty slot. The file name is the character's\n"
      "login name; put it in the items folder.");
  const QCommandLineOption item("item", "One record: KIND,INDEX,WORD1,WORD2,COUNT.", "record");
  parser.addOption(item);
  const QCommandLineOption force = ForceOption();
  parser.addOption(force);
  parser.addPositionalArgument("FILE", "The item file to write.");
  if (!Parse(parser, arguments, out)) return kDone;

  const QStringList values = parser.values(item);
  if (values.size() > static_cast<qsizetype>(kItemRecordsRead)) {
    throw UsageError("at most 16 --item options: the server reads no more records");
  }
  std::vector<ItemRecord> records;
  for (const QString& value : values) {
    records.push_back(ParseItem(value));
    const ItemRecord& added = records.back();
    if (added.Count > 0) {
      WarnIfOutside(err, "WORD1", added.Word1, 0, 32767);
      WarnIfOutside(err, "WORD2", added.Word2, 0, 32767);
    }
  }
  WriteFile(parser.positionalArguments().front().toStdString(), EncodeItemRecords(records),
            parser.isSet(force));
  return kDone;
}

}  // namespace

int RunDataCommand(const QStringList& arguments, std::ostream& out, std::ostream& err) {
  const QString command = arguments.value(1);
  // Where a usage error points to: the command's own help once it is known.
  std::string help = "quorvane-data --help";
  // The command's parser sees the program and command as one name.
  QStringList rest = arguments.mid(2);
  rest.prepend("quorvane-data " + command);
  try {
    if (command.isEmpty()) throw UsageError("no command given");
    if (command == "-h" || command == "--help" || command == "help") {
      out << kUsage;
      return kDone;
    }
    if (command == "-v" || command == "--version") {
      out << "quorvane-data " QUORVANE_VERSION "\n";
      return kDone;
    }
    if (command != "show" && command != "new-character" && command != "new-items") {
      throw UsageError("unknown command \"" + Text(command) + "\"");
    }
    help = "quorvane-data " + Text(command) + " --help";
    if (command == "show") return Show(rest, out);
    if (command == "new-character") return NewCharacter(rest, out, err);
    return NewItems(rest, out, err);
  } catch (const UsageError& error) {
    err << "quorvane-data: " << error.what() << " (see " << help << ")\n";
    return kUsageError;
  } catch (const std::exception& error) {
    err << "quorvane-data: " << error.what() << "\n";
    return kFileError;
  }
}

}  // namespace quorvane::data
