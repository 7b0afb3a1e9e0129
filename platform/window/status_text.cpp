#include "status_text.h"

#include <array>

namespace quorvane {

QString ByteSize(std::uint64_t bytes) {
  if (bytes < 1024) return QString("%1 B").arg(bytes);
  constexpr std::array<const char*, 4> kUnits{"KiB", "MiB", "GiB", "TiB"};
  double size = static_cast<double>(bytes) / 1024;
  std::size_t unit = 0;
  while (size >= 1024 && unit + 1 < kUnits.size()) {
    size /= 1024;
    ++unit;
  }
  return QString("%1 %2").arg(size, 0, 'f', 1).arg(kUnits[unit]);
}

QString Elapsed(std::chrono::milliseconds duration) {
  const auto total = std::chrono::duration_cast<std::chrono::seconds>(duration).count();
  const long long days = total / 86400;
  const long long hours = total / 3600 % 24;
  const long long minutes = total / 60 % 60;
  const long long seconds = total % 60;
  const auto two = [](long long value) { return QString("%1").arg(value, 2, 10, QChar('0')); };
  if (days > 0)
    return QString("%1 d %2:%3:%4").arg(days).arg(hours).arg(two(minutes), two(seconds));
  if (hours > 0) return QString("%1:%2:%3").arg(hours).arg(two(minutes), two(seconds));
  return QString("%1:%2").arg(minutes).arg(two(seconds));
}

QString Shown(std::string_view name) {
  return QString::fromLatin1(name.data(), static_cast<qsizetype>(name.size())).replace('_', ' ');
}

QString GameText(std::string_view text) {
  return QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()));
}

QString Facing(int facing) {
  static const QString kArrows[] = {"↙", "↓", "↘", "←", "·", "→", "↖", "↑", "↗"};
  if (facing < 1 || facing > 9) return QString::number(facing);
  return QString("%1 %2").arg(facing).arg(kArrows[facing - 1]);
}

QString StatusLine(const QString& endpoint, const ServerSnapshot& snapshot) {
  return QString("Listening on %1 · up %2 · accepted %3 · refused %4 · bans in force %5")
      .arg(endpoint, Elapsed(snapshot.uptime))
      .arg(snapshot.counters.connectionsAccepted)
      .arg(snapshot.counters.RefusedTotal())
      .arg(snapshot.bansInForce);
}

}  // namespace quorvane
