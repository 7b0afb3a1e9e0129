#include "option_table.h"

#include "host/form1.h"
#include "session/socket_control.h"
#include "session/welcome_line.h"

namespace quorvane {

// A day is far beyond any real client; the bound keeps the milliseconds in range.
constexpr double kMaxSeconds = 86400;
constexpr double kMinHandshakeSeconds = 0.001;
constexpr int kMaxTickMs = 86400 * 1000;
constexpr std::size_t kMaxPerAddressBound = 1000;
// Beyond any client's need; the bound keeps the per-connection count small.
constexpr int kMaxLoginRate = 1000;

const std::vector<Option>& OptionTable() {
  using O = ServerOptions;
  using A = AdmissionSettings;
  static const std::vector<Option> table{
      Row<&O::port>(Port(), kDefaultPort,
                    {.name = "port",
                     .help = "TCP port to listen on; 0 picks a free one.",
                     .details = "The `listening on` line names the port."}),
      Row<&O::listen>(
          Hosts(), {},
          {.name = "listen",
           .help = "Address or host name to listen on; a name listens on every address it "
                   "resolves to at start-up.",
           .details = "An address the machine lacks (a name's IPv6 address on a host without "
                      "IPv6) is passed over with a warning; exit status 1 when none is left.",
           .defaultMeaning = "all interfaces, IPv6 and IPv4",
           .repeatable = true}),
      Row<&O::dataDir>(Folder(), {},
                       {.name = "data-dir",
                        .help = "Folder holding `characters/` and `items/`.",
                        .details = "Exit status 2 when it does not exist; without `characters/` "
                                   "a warning at start-up (exit status 2 with "
                                   "`--require-character`).",
                        .defaultMeaning = "the working directory"}),
      Row<&O::tickMs>(Number(1, kMaxTickMs), static_cast<int>(kDefaultTickInterval.count()),
                      {.name = "tick-ms", .help = "Interval of the NPC timer in milliseconds."}),
      Row<&O::handshakeTimeout>(
          Seconds(kMinHandshakeSeconds, kMaxSeconds), kDefaultHandshakeTimeout,
          {.name = "handshake-timeout",
           .help = "Seconds a new connection has to finish its handshake before it is closed "
                   "and its slot freed; fractions allowed, e.g. 0.5."}),
      Row<&O::loginTimeout>(Seconds(0, kMaxSeconds), kDefaultLoginTimeout,
                            {.name = "login-timeout",
                             .help = "Seconds after its accept by which a connection must have "
                                     "sent its login (200), or it is closed; 0 for no limit."}),
      Row<&O::loginGrace>(
          Seconds(0, kMaxSeconds), kDefaultLoginGrace,
          {.name = "login-grace",
           .help = "Seconds after its accept a connection that has not logged in keeps its slot "
                   "against a newcomer finding every slot taken; past it, the one held longest "
                   "is closed for the newcomer; 0 for never.",
           .details = "A logged-in player is never closed for a newcomer; within the grace, or "
                      "with two players logged in, the newcomer is refused as before."}),
      Row<&O::idleTimeout>(
          Seconds(0, kMaxSeconds), kDefaultIdleTimeout,
          {.name = "idle-timeout",
           .help = "Seconds a connection may send nothing before it is closed; 0 for no limit.",
           .defaultMeaning = "no limit"}),
      Row<&O::admission, &A::allow>(
          AddressRanges(), {},
          {.name = "allow",
           .help = "Serve only addresses in this IPv4 or IPv6 range.",
           .details = "An IPv4 client reaching an IPv6 listener is matched as IPv4.",
           .defaultMeaning = "every address",
           .repeatable = true,
           .reloadable = true}),
      Row<&O::admission, &A::deny>(
          AddressRanges(), {},
          {.name = "deny",
           .help = "Never serve addresses in this IPv4 or IPv6 range, even allowed ones.",
           .details = "A refused client is closed at once: it takes no slot and writes no log "
                      "line. After a reload (SIGHUP), connected clients whose address the new "
                      "ranges refuse are closed too.",
           .defaultMeaning = "none",
           .repeatable = true,
           .reloadable = true}),
      Row<&O::admission, &A::maxPerAddress>(
          Count(kMaxPerAddressBound), kDefaultMaxPerAddress,
          {.name = "max-per-address",
           .help = "Slots one address may hold at once; 0 for no limit.",
           .defaultMeaning = "no limit"}),
      Row<&O::admission, &A::autoban>(
          AutobanRule(), kDefaultAutoban,
          {.name = "autoban",
           .help = "An address opening more than A connections within T seconds is refused for "
                   "B seconds; `off` to disable."}),
      Row<&O::admission, &A::timeoutPenalty>(
          Seconds(0, kMaxSeconds), kDefaultTimeoutPenalty,
          {.name = "timeout-penalty",
           .help = "Seconds an address is refused after the handshake or login deadline closed "
                   "one of its connections; 0 for never."}),
      Row<&O::admission, &A::ipv6PrefixBits>(
          Number(1, 128), kDefaultIpv6PrefixBits,
          {.name = "ipv6-prefix",
           .help = "Leading bits of an IPv6 address that bans, connection counts and the "
                   "slots-per-address limit take as one peer; IPv4 counts per address."}),
      Row<&O::relaySoftLimit>(
          Count(kSendBound), kDefaultRelaySoftLimit,
          {.name = "relay-soft-limit",
           .help = "Relayed packets are dropped, unsealed, while their receiver has more than "
                   "this many bytes waiting to be sent; 0 for no soft limit.",
           .details = "Relayed are the other player's chat and movement and the NPCs. Without "
                      "it only the 4 MiB that close a client that does not read at all bound "
                      "the queue."}),
      Row<&O::relayRates, &RelayRates::packetsPerSecond>(
          Rate(), kDefaultRelayPacketsPerSecond,
          {.name = "relay-rate",
           .help = "Packets per second each connection may have relayed to the other player, "
                   "bursts of twice that; 0 for no limit."}),
      Row<&O::relayRates, &RelayRates::bytesPerSecond>(
          Rate(), kDefaultRelayBytesPerSecond,
          {.name = "relay-bytes",
           .help = "Bytes per second each connection may have relayed, bursts of twice that; 0 "
                   "for no limit."}),
      Row<&O::requireCharacter>(
          Switch(), kDefaultRequireCharacter,
          {.name = "require-character",
           .help = "Refuse logins whose name has no character file, closing the connection "
                   "before any reply.",
           .defaultMeaning = "such a login is served default data"}),
      Row<&O::loginRate>(
          Number(0, kMaxLoginRate), kDefaultLoginRate,
          {.name = "login-rate",
           .help = "Logins handled per connection within any one second; 0 for no limit.",
           .details = "Further login packets in that second are read, so the packet sequence "
                      "stays in step, but ignored, and one line on standard error says so."}),
      Row<&O::library>(File(), {},
                       {.name = "library",
                        .help = "Path of the cipher library.",
                        .details = "Installed, the loader searches the system's library "
                                   "folders, or `PREFIX/lib`.",
                        .defaultMeaning = "`libkelvane.so.1` beside the program, then the "
                                          "loader's search path"}),
      Row<&O::headless>(Switch(), false,
                        {.name = "headless",
                         .help = "Run without a window and write each log line to standard "
                                 "output.",
                         .details = "Chosen by itself when there is no display (neither "
                                    "`DISPLAY` nor `WAYLAND_DISPLAY`)."}),
      Row<&O::http>(
          HttpEndpoint(), {},
          {.name = "http",
           .help = "Serve `/metrics` (Prometheus), `/health` and `/status` over HTTP on this "
                   "address and port, e.g. 127.0.0.1:9100 or [::1]:9100; port 0 picks a free one. "
                   "Bind it to 127.0.0.1 or an address only monitoring reaches: it has no access "
                   "control.",
           .details = "Once it listens the server writes `metrics on ADDR:PORT` to standard "
                      "error, before the `listening on` line.",
           .defaultMeaning = "off"}),
      Row<&O::logFile>(
          File(), {},
          {.name = "log-file",
           .help = "Also append every line written to standard error to this file, each stamped "
                   "with the time and level; SIGHUP reopens it, for log rotation.",
           .details = "The file is created with mode 0640. Exit status 1 when it cannot be opened "
                      "at start-up; on SIGHUP the old file stays in use. The service may write "
                      "under `/var/log/quorvane`. A write that fails (ENOSPC, EIO, EFBIG) is told "
                      "once on standard error with its reason, and how many lines were lost once "
                      "writing works again.",
           .defaultMeaning = "none",
           .reloadable = true}),
      Row<&O::agones>(
          OptionalPort(), std::nullopt,
          {.name = "agones",
           .help = "Talk to the Agones SDK sidecar's REST API on 127.0.0.1 at this port: ready, "
                   "health pings, the players list, shutdown; 0 for off.",
           .details = "Health is pinged every 2 s from the event loop (a wedged loop stops "
                      "them); each logged-in player is added to the GameServer's `players` list "
                      "as `Server1:NAME` and removed on departure. Calls time out after 1.5 s; "
                      "one that finds no sidecar, or an answer of 5xx, is retried with back-off, "
                      "and a sidecar that has not answered for 15 s is reported once on standard "
                      "error; the game goes on regardless.",
           .defaultMeaning = "the `AGONES_SDK_HTTP_PORT` environment variable, which Agones "
                             "sets; off without it"}),
      Row<&O::exitWhenEmpty>(
          Seconds(0, kMaxSeconds), std::chrono::milliseconds{0},
          {.name = "exit-when-empty",
           .help = "Once a player has logged in and the last one has been gone this many "
                   "seconds, end the server (exit status 0), telling Agones; 0 for never.",
           .details = "A login meanwhile keeps it; a map that never had a player waits for its "
                      "first.",
           .defaultMeaning = "never"}),
      Row<&O::controlSocket>(
          File(), {},
          {.name = "control-socket",
           .help = "Listen for operator commands (quorvane-ctl) on a Unix socket at this path, "
                   "mode 0660; a stale socket there is replaced, a live one refused.",
           .defaultMeaning = "none"}),
      Row<&O::banFile>(File(), {},
                       {.name = "ban-file",
                        .help = "Keep the operator's bans in this file, read at start-up and on "
                                "SIGHUP.",
                        .defaultMeaning = "none: bans last until the server ends"}),
      Row<&O::shutdownGrace>(
          WholeSeconds(86400), kDefaultShutdownGrace,
          {.name = "shutdown-grace",
           .help = "On SIGTERM, SIGINT or the shutdown command with players logged in, warn them "
                   "and end this many seconds later; 0 ends at once.",
           .reloadable = true}),
      Row<&O::shutdownText>(
          Latin1Text(kLongestShutdownText, false),
          QByteArray(kDefaultShutdownText.data(), qsizetype(kDefaultShutdownText.size())),
          {.name = "shutdown-text",
           .help = "Text of the chat line that warns the players of a shutdown, followed by the "
                   "seconds left.",
           .reloadable = true}),
      Row<&O::console>(Switch(), false,
                       {.name = "console",
                        .help = "Headless only: read operator commands from standard input and "
                                "answer on standard output."}),
      Row<&O::welcomeSender>(Latin1Text(kLongestWelcomeSender, false),
                             QByteArray(kDefaultWelcomeSender.data(), kDefaultWelcomeSender.size()),
                             {.name = "welcome-sender",
                              .help = "Sender of the chat line that closes every login.",
                              .reloadable = true}),
      Row<&O::welcomeText>(Latin1Text(kLongestWelcomeText, true),
                           QByteArray(kDefaultWelcomeText.data(), kDefaultWelcomeText.size()),
                           {.name = "welcome-text",
                            .help = "Text of the chat line that closes every login.",
                            .reloadable = true}),
  };
  return table;
}

QString DefaultInWords(const Option& option) {
  QString text = option.defaultText;
  if (option.IsSwitch()) text = text == "true" ? "on" : "off";
  const QString& meaning = option.text.defaultMeaning;
  if (text.isEmpty()) return meaning;
  return meaning.isEmpty() ? text : text + " (" + meaning + ")";
}

QString Plain(const QString& text) {
  return QString(text).remove('`');
}

QString EnvironmentVariable(const QString& name) {
  return "QUORVANE_" + name.toUpper().replace('-', '_');
}

const std::vector<ProgramOption>& ProgramOptions() {
  static const std::vector<ProgramOption> options{
      {{kConfigOption},
       "file",
       "Read settings from this INI file: one `key = value` line per option, the key being the "
       "option's name without the dashes, with the same default; `#` and `;` start comments. "
       "A line that is none of these nor a `[section]`, a key given twice and an unknown key "
       "are errors. The environment's `QUORVANE_CONFIG` names a file too; the command line "
       "wins.",
       Completion::kFile},
      {{"h", "help"}, "", "Show this help and exit."},
      {{"v", "version"}, "", "Show the version and exit."},
  };
  return options;
}

}  // namespace quorvane
