// quorvane-client: connects to a Quorvane server, performs the handshake,
// prints every packet it receives and sends the commands read from standard
// input.
#include <poll.h>
#include <unistd.h>

#include <QCommandLineParser>
#include <QCoreApplication>
#include <chrono>
#include <cstdio>
#include <random>
#include <string>

#include "client/client_session.h"
#include "client/packet_text.h"
#include "client/tcp_connection.h"
#include "client_command.h"

namespace {

using namespace quorvane::client;
using quorvane::Bytes;
using namespace std::chrono_literals;

constexpr auto kConnectTimeout = 5s;
constexpr auto kHandshakeTimeout = 5s;
// Once input ends, replies are awaited until the server has been quiet this
// long, but no longer than the cap.
constexpr auto kQuietAfterInput = 500ms;
constexpr auto kLongestWaitAfterInput = 5s;

constexpr char kCommandHelp[] =
    "\nCommands, one per line on standard input:\n"
    "  login NAME          log in with a character name (up to 16 bytes)\n"
    "  say [TYPE] TEXT     chat line (302); TYPE is a number 0-255, default 1\n"
    "  move HEX            movement packet (202) with the payload in hex; the other\n"
    "                      player receives it as 203 after your 46-byte name block\n"
    "  ping                ping (124)\n"
    "  raw OPCODE HEX      any packet: decimal opcode, payload in hex (may be empty)\n"
    "  quit                close the connection and end\n"
    "\nThe server passes a move on unread. The server's own characters move with 8\n"
    "bytes, and a 203 whose move is 8 bytes (54 with the name block) is printed in\n"
    "their layout: X and Y where the step starts (2 bytes each, low byte first),\n"
    "three flag bytes, then the new facing, 1 to 9 as on a numeric keypad: 8 north\n"
    "(smaller Y), 2 south, 4 west, 6 east. A step east from 42,57:\n"
    "  move 2a 00 39 00 00 00 00 06\n"
    "\nThe client ends when its input ends, after a short wait for replies.\n"
    "Received packets go to standard output; progress and errors to standard error.\n";

void Print(const std::string& line) {
  std::fputs((line + "\n").c_str(), stdout);
  std::fflush(stdout);
}

// Progress on standard error.
void Report(const std::string& line) {
  std::fputs((line + "\n").c_str(), stderr);
}

// An error on standard error, naming the program.
void Fail(const std::string& message) {
  Report("quorvane-client: " + message);
}

// A bad command line: status 2, and where the help is.
int UsageError(const QString& message) {
  Fail(message.toStdString() + " (see quorvane-client --help)");
  return 2;
}

// Qt's parser errors as the rest read: "Unknown option 'x'." becomes
// "unknown option 'x'".
QString ParserError(const QCommandLineParser& parser) {
  QString text = parser.errorText();
  if (text.endsWith('.')) text.chop(1);
  if (!text.isEmpty()) text[0] = text[0].toLower();
  return text;
}

class ClientLoop {
 public:
  ClientLoop(TcpConnection connection, std::uint32_t seed)
      : connection_(std::move(connection)), session_(seed) {}

  bool Handshake() {
    try {
      connection_.SendAll(session_.Hello());
    } catch (const std::runtime_error&) {
      // A refused client may be reset before its hello has gone out.
      closed_ = true;
    }
    const auto deadline = std::chrono::steady_clock::now() + kHandshakeTimeout;
    while (!closed_ && session_.phase() == ClientSession::Phase::kAwaitingReply) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
          deadline - std::chrono::steady_clock::now());
      if (left <= 0ms || !ReadSocket(left)) break;
    }
    if (session_.phase() == ClientSession::Phase::kOpen) return true;
    Fail(session_.phase() == ClientSession::Phase::kBroken ? session_.Error()
         : closed_ ? "the server closed the connection during the handshake"
                   : "the server did not answer the handshake");
    return false;
  }

  void Send(const Packet& packet) {
    connection_.SendAll(session_.Seal(packet.opcode, packet.payload));
    Print("sent " + DescribePacket(packet));
  }

  // Runs commands from standard input until it ends or says quit; returns
  // the exit status.
  int Run() {
    while (!closed_) {
      pollfd waiters[2] = {{STDIN_FILENO, POLLIN, 0}, {connection_.fd(), POLLIN, 0}};
      if (::poll(waiters, 2, -1) < 0) continue;
      if (waiters[1].revents != 0) ReadSocket(0ms);
      if (waiters[0].revents != 0 && !ReadInput()) return Finish();
    }
    return ServerClosed();
  }

 private:
  // False on timeout or when the server closed the connection.
  bool ReadSocket(std::chrono::milliseconds timeout) {
    Bytes arrived;
    const auto status = connection_.ReadSome(arrived, timeout);
    if (status == TcpConnection::ReadStatus::kClosed) closed_ = true;
    if (status != TcpConnection::ReadStatus::kData) return false;
    for (const Packet& packet : session_.Receive(arrived)) Print("recv " + DescribePacket(packet));
    if (session_.phase() == ClientSession::Phase::kBroken) {
      Fail(session_.Error());
      closed_ = true;
      return false;
    }
    return true;
  }

  // False when input has ended or asked to quit.
  bool ReadInput() {
    char chunk[4096];
    const ssize_t got = ::read(STDIN_FILENO, chunk, sizeof chunk);
    if (got <= 0) {
      if (!pending_.empty()) Execute(std::exchange(pending_, {}));
      return false;
    }
    pending_.append(chunk, static_cast<std::size_t>(got));
    std::size_t end;
    while ((end = pending_.find('\n')) != std::string::npos) {
      const std::string line = pending_.substr(0, end);
      pending_.erase(0, end + 1);
      if (!Execute(line)) {
        quit_ = true;
        return false;
      }
    }
    return true;
  }

  // False on quit.
  bool Execute(const std::string& line) {
    const Command command = ParseCommand(line);
    switch (command.action) {
      case Command::Action::kQuit:
        return false;
      case Command::Action::kError:
        Fail(command.error);
        break;
      case Command::Action::kSend:
        Send(command.packet);
        break;
      case Command::Action::kNothing:
        break;
    }
    return true;
  }

  int Finish() {
    if (quit_) return 0;
    const auto deadline = std::chrono::steady_clock::now() + kLongestWaitAfterInput;
    while (!closed_ && std::chrono::steady_clock::now() < deadline) {
      if (!ReadSocket(kQuietAfterInput)) break;
    }
    return closed_ ? ServerClosed() : 0;
  }

  int ServerClosed() {
    Fail("the server closed the connection");
    return 1;
  }

  TcpConnection connection_;
  ClientSession session_;
  std::string pending_;
  bool closed_ = false;
  bool quit_ = false;
};

}  // namespace

int main(int argc, char* argv[]) {
  QCoreApplication app(argc, argv);
  QCoreApplication::setApplicationName("quorvane-client");
  QCoreApplication::setApplicationVersion(QUORVANE_VERSION);

  QCommandLineParser parser;
  parser.setApplicationDescription(
      QString("Talks to a Quorvane server: handshake, optional login, then the "
              "commands read from standard input.") +
      kCommandHelp);
  const QCommandLineOption helpOption = parser.addHelpOption();
  const QCommandLineOption versionOption = parser.addVersionOption();
  const QCommandLineOption hostOption("host", "Server host name or address (default 127.0.0.1).",
                                      "host", "127.0.0.1");
  const QCommandLineOption portOption("port", "Server TCP port (default 10217).", "port", "10217");
  const QCommandLineOption nameOption(
      "name", "Log in with this character name after the handshake.", "name");
  parser.addOptions({hostOption, portOption, nameOption});
  // parse, not process: Qt's process ends with status 1 and words of its own.
  if (!parser.parse(QCoreApplication::arguments())) return UsageError(ParserError(parser));
  if (parser.isSet(helpOption)) parser.showHelp(0);
  if (parser.isSet(versionOption)) parser.showVersion();
  if (!parser.positionalArguments().isEmpty()) {
    return UsageError("unexpected argument \"" + parser.positionalArguments().front() + "\"");
  }

  bool valid = false;
  const uint port = parser.value(portOption).toUInt(&valid);
  if (!valid || port == 0 || port > 65535) {
    return UsageError("--port needs a number from 1 to 65535, not \"" + parser.value(portOption) +
                      "\"");
  }
  const std::string host = parser.value(hostOption).toStdString();
  const std::string name = parser.value(nameOption).toStdString();
  Bytes loginBlock;
  if (parser.isSet(nameOption)) {
    try {
      loginBlock = LoginBlock(name);
    } catch (const std::invalid_argument& error) {
      return UsageError(QString("--name: ") + error.what());
    }
  }

  try {
    TcpConnection connection =
        TcpConnection::Connect(host, static_cast<std::uint16_t>(port), kConnectTimeout);
    Report("connected to " + host + ":" + std::to_string(port));
    ClientLoop loop(std::move(connection), std::random_device{}());
    if (!loop.Handshake()) return 1;
    Report("handshake done");
    if (!loginBlock.empty()) loop.Send(Packet{200, loginBlock});
    return loop.Run();
  } catch (const std::exception& error) {
    Fail(error.what());
    return 1;
  }
}
