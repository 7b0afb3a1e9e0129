// The kinds of value an option takes: how its text is read, what it accepts
// (for the errors and the docs) and how a default is written back as text.
#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

#include "host/address_admission.h"
#include "host/address_range.h"
#include "platform/options/server_options.h"

namespace quorvane {

// What the shell offers after the option.
enum class Completion { kNothing, kFolder, kFile, kWords };

template <typename T>
struct ValueType {
  // The value's name in the usage, e.g. "seconds"; empty for a switch, which
  // the command line gives bare and the file and environment as true or false.
  QString valueName;
  // What it accepts, completing "needs ...", e.g. "a number from 0 to 65535".
  QString accepts;
  // Stores the value of `text` in `into`; returns what is wrong with the
  // text ("needs ...", naming a wrong item of a list), empty when nothing is.
  std::function<QString(const QString& text, T& into)> read;
  std::function<QString(const T& value)> write;
  Completion completion = Completion::kNothing;
  QStringList words = {};  // what kWords offers
};

ValueType<std::uint16_t> Port();
// A port, or nothing for "not given".
ValueType<std::optional<std::uint16_t>> OptionalPort();
// Whole numbers from `min` to `max`.
ValueType<int> Number(int min, int max);
ValueType<std::size_t> Count(std::size_t max);
// Seconds, fractions allowed, from `min` to `max`; a minimum of 0 means off.
ValueType<std::chrono::milliseconds> Seconds(double min, double max);
// Whole seconds from 0 to `max`.
ValueType<std::chrono::seconds> WholeSeconds(int max);
// A rate per second from 0 (off) up.
ValueType<double> Rate();
ValueType<bool> Switch();
ValueType<std::vector<AddressRange>> AddressRanges();
ValueType<std::optional<Autoban>> AutobanRule();
// Addresses and host names, checked but not resolved.
ValueType<QStringList> Hosts();
// An existing folder, or empty.
ValueType<QString> Folder();
ValueType<QString> File();
ValueType<std::optional<HttpAddress>> HttpEndpoint();
// Latin-1 text of at most `longest` bytes, on one line unless `lineBreaks`.
ValueType<QByteArray> Latin1Text(std::size_t longest, bool lineBreaks);

}  // namespace quorvane
