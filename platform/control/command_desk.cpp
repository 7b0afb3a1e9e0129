#include "platform/control/command_desk.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QString>
#include <optional>

#include "host/ban_file.h"
#include "host/status_names.h"
#include "platform/control/control_command.h"

namespace quorvane {
namespace {

QString Utf8(std::string_view text) {
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

// Latin-1 bytes of UTF-8 `text`; nothing when it holds other characters.
std::optional<std::string> Latin1(const std::string& text) {
  const QString decoded = QString::fromUtf8(text);
  const QByteArray bytes = decoded.toLatin1();
  if (QString::fromLatin1(bytes) != decoded) return std::nullopt;
  return bytes.toStdString();
}

std::string FromLatin1(std::string_view text) {
  return QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size())).toStdString();
}

std::string UntilText(const BanRecord& ban) {
  return ban.until ? UtcText(*ban.until) : std::string("forever");
}

QJsonValue OrNull(const std::string& text) {
  return text.empty() ? QJsonValue() : QJsonValue(Utf8(text));
}

ControlAnswer From(const ActionResult& result) {
  ControlAnswer answer;
  answer.done = result.done;
  answer.summary = FromLatin1(result.text);
  return answer;
}

ControlAnswer Refusal(std::string reason) {
  ControlAnswer answer;
  answer.summary = std::move(reason);
  return answer;
}

}  // namespace

ControlAnswer CommandDesk::Run(std::string_view line, const Operator& by) {
  const ParsedCommand parsed = ParseControlLine(line);
  if (!parsed.command) {
    Note(by, "refused a command: " + parsed.error);
    ControlAnswer answer = Refusal(parsed.error);
    answer.json = line.starts_with("--json");
    return answer;
  }
  const ControlCommand& command = *parsed.command;
  const std::optional<std::string> text = Latin1(command.text);
  ControlAnswer answer;
  HostOperator& host = sources_.host;
  if (!text) {
    answer = Refusal("the text takes Latin-1 characters only");
  } else {
    switch (command.kind) {
      case CommandKind::kStatus:
        answer = Status();
        break;
      case CommandKind::kBans:
        answer = ListBans();
        break;
      case CommandKind::kHelp:
        answer.done = true;
        answer.summary = "commands:";
        answer.detail = std::string(CommandSummary()) + "\n";
        break;
      case CommandKind::kSay:
        answer = From(host.Say(*text, by));
        break;
      case CommandKind::kKick:
        answer = From(host.Kick(command.slot, *text, by));
        break;
      case CommandKind::kBan:
        answer = From(host.Ban(*command.range, command.duration, *text, by));
        break;
      case CommandKind::kUnban:
        answer = From(host.Unban(*command.range, by));
        break;
      case CommandKind::kShutdown:
        answer = From(host.Shutdown(command.duration, *text, by));
        break;
      case CommandKind::kCancel:
        answer = From(host.CancelShutdown(by));
        break;
      case CommandKind::kReload: {
        answer = From(sources_.reload());
        if (answer.done) host.CountReload();
        Note(by, answer.summary);
        break;
      }
    }
  }
  if (!answer.done && command.kind != CommandKind::kReload) {
    Note(by, "refused: " + std::string(line) + ": " + answer.summary);
  } else if (command.kind == CommandKind::kStatus || command.kind == CommandKind::kBans) {
    Note(by, "asked for " + std::string(command.kind == CommandKind::kStatus ? "status" : "bans"));
  }
  answer.json = command.json;
  return answer;
}

std::string CommandDesk::Framed(const ControlAnswer& answer) {
  if (answer.json) {
    QJsonObject object = answer.object;
    object.insert("ok", answer.done);
    object.insert("text", Utf8(answer.summary));
    return QJsonDocument(object).toJson(QJsonDocument::Compact).toStdString() + "\n\n";
  }
  return (answer.done ? "ok " : "error ") + answer.summary + "\n" + answer.detail + "\n";
}

ControlAnswer CommandDesk::Status() const {
  const ServerSnapshot snapshot = sources_.snapshot();
  const std::vector<BanRecord> bans = sources_.host.Bans();
  ControlAnswer answer;
  answer.done = true;
  const auto uptime = std::chrono::duration_cast<std::chrono::seconds>(snapshot.uptime).count();
  answer.summary = "up " + std::to_string(uptime) + " s, " +
                   std::to_string(snapshot.PlayersConnected()) + " of " +
                   std::to_string(kSlotCount) + " slots taken, " + std::to_string(bans.size()) +
                   (bans.size() == 1 ? " ban" : " bans") + " in force";
  if (const auto left = sources_.host.ShutdownLeft()) {
    answer.summary += ", shutting down in " + std::to_string(left->count()) + " s";
    answer.object.insert("shutdown_in_seconds", static_cast<qint64>(left->count()));
  }
  QJsonArray slotList;
  for (std::size_t index = 0; index < kSlotCount; ++index) {
    const SlotStatus& slot = snapshot.slotTable[index];
    std::string line = "slot " + std::to_string(index + 1) + " " + std::string(NameOf(slot.state));
    QJsonObject entry{{"slot", static_cast<int>(index + 1)}, {"state", Utf8(NameOf(slot.state))}};
    if (slot.state != SlotState::kFree) {
      const std::string since = UtcText(slot.connectedAt);
      line += " " + slot.peer + " " + (slot.character.empty() ? "-" : slot.character) + " since " +
              since;
      entry.insert("peer", Utf8(slot.peer));
      entry.insert("character", OrNull(slot.character));
      entry.insert("connected_since", Utf8(since));
    }
    answer.detail += line + "\n";
    slotList.append(entry);
  }
  QJsonArray npcs;
  for (const NpcStatus& npc : snapshot.npcs) {
    answer.detail +=
        "npc " + npc.name + " at " + std::to_string(npc.x) + "," + std::to_string(npc.y) + "\n";
    npcs.append(QJsonObject{{"name", Utf8(npc.name)}, {"x", npc.x}, {"y", npc.y}});
  }
  const ControlAnswer banned = ListBans();
  answer.detail += banned.detail;
  answer.object = banned.object;
  answer.object.insert("uptime_seconds", static_cast<qint64>(uptime));
  answer.object.insert("slots", slotList);
  answer.object.insert("npcs", npcs);
  return answer;
}

ControlAnswer CommandDesk::ListBans() const {
  const std::vector<BanRecord> bans = sources_.host.Bans();
  ControlAnswer answer;
  answer.done = true;
  answer.summary =
      std::to_string(bans.size()) + (bans.size() == 1 ? " ban" : " bans") + " in force";
  QJsonArray list;
  for (const BanRecord& ban : bans) {
    const std::string reason = FromLatin1(ban.reason);
    answer.detail += "ban " + ban.range.ToString() + " until " + UntilText(ban) + " " +
                     (ban.manual ? "by " + ban.by : std::string("automatic")) + " since " +
                     UtcText(ban.since) + (reason.empty() ? "" : ": " + reason) + "\n";
    list.append(
        QJsonObject{{"range", Utf8(ban.range.ToString())},
                    {"until", ban.until ? QJsonValue(Utf8(UtcText(*ban.until))) : QJsonValue()},
                    {"source", ban.manual ? "manual" : "automatic"},
                    {"reason", Utf8(reason)},
                    {"by", OrNull(ban.by)},
                    {"since", Utf8(UtcText(ban.since))}});
  }
  answer.object.insert("bans", list);
  return answer;
}

void CommandDesk::Note(const Operator& by, std::string_view what) const {
  Report(sources_.report, Severity::kInfo,
         "operator " + by.user + " (uid " + std::to_string(by.uid) + ")", what);
}

}  // namespace quorvane
