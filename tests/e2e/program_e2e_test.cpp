// The program as a process: start-up failures, signals, running without a
// display, and quorvane-client driven through a pipe.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "e2e_fixture.h"
#include "scratch_folder.h"

namespace quorvane::testing {
namespace {

ChildProcess::Options ProgramWith(std::vector<std::string> arguments) {
  ChildProcess::Options options;
  options.arguments = std::move(arguments);
  options.arguments.insert(options.arguments.begin(), QUORVANE_PROGRAM);
  return options;
}

std::string Joined(const std::vector<std::string>& lines) {
  std::string text;
  for (const std::string& line : lines) text += line + "\n";
  return text;
}

// A socket bound and listening on 127.0.0.1, holding a port for the test.
class HeldPort {
 public:
  HeldPort() : fd_(::socket(AF_INET, SOCK_STREAM, 0)) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    ::bind(fd_, reinterpret_cast<sockaddr*>(&address), size);
    ::listen(fd_, 1);
    ::getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &size);
    port_ = ntohs(address.sin_port);
  }
  ~HeldPort() { ::close(fd_); }
  std::uint16_t port() const { return port_; }

 private:
  int fd_;
  std::uint16_t port_ = 0;
};

TEST(ProgramTest, PortInUseIsReportedAndEndsTheProgram) {
  HeldPort held;
  const std::string port = std::to_string(held.port());
  ChildProcess program(ProgramWith({"--headless", "--listen", "127.0.0.1", "--port", port}));
  EXPECT_TRUE(program.WaitForStderrLine("cannot listen on 127.0.0.1:" + port + ": ", 5s));
  const std::optional<int> status = program.WaitForExit(5s);
  ASSERT_TRUE(status);
  EXPECT_NE(*status, 0);
}

TEST(ProgramTest, MissingLibraryOrExportIsNamedAndNothingListens) {
  struct Case {
    std::string library;
    std::string named;
  };
  const std::vector<Case> cases{
      {"/nonexistent/libkelvane.so.1", "/nonexistent/libkelvane.so.1"},
      // A real shared object that is not the cipher: its first missing export is named.
      {"libm.so.6", "lacks the export encode"},
  };
  for (const Case& c : cases) {
    ChildProcess program(ProgramWith(
        {"--headless", "--listen", "127.0.0.1", "--port", "0", "--library", c.library}));
    const std::optional<int> status = program.WaitForExit(5s);
    ASSERT_TRUE(status) << c.library;
    EXPECT_NE(*status, 0) << c.library;
    const std::vector<std::string> errors = program.StderrLines();
    EXPECT_TRUE(std::any_of(errors.begin(), errors.end(), [&](const std::string& line) {
      return line.find(c.named) != std::string::npos;
    })) << c.library;
    EXPECT_FALSE(program.WaitForStderrLine("listening on", 0ms)) << c.library;
    // One line naming the program ends the start, the file named once in it.
    std::vector<std::string> failures;
    std::copy_if(errors.begin(), errors.end(), std::back_inserter(failures),
                 [](const std::string& line) { return line.starts_with("quorvane: "); });
    ASSERT_EQ(failures.size(), 1u) << Joined(errors);
    const std::string& failure = failures.front();
    EXPECT_TRUE(failure.starts_with("quorvane: cannot load cipher library " + c.library) ||
                failure.starts_with("quorvane: cipher library " + c.library))
        << failure;
    EXPECT_EQ(failure.find(c.library, failure.find(c.library) + 1), std::string::npos) << failure;
  }
}

TEST(ProgramTest, BadOptionsAreRefusedWithStatusTwo) {
  for (const std::vector<std::string>& arguments :
       std::vector<std::vector<std::string>>{{"--port", "65536"},
                                             {"--port", "ten"},
                                             {"--tick-ms", "0"},
                                             {"--listen", "300.1.1.1"},
                                             {"--data-dir", "/nonexistent/folder"},
                                             {"--no-such-option"}}) {
    ChildProcess program(ProgramWith(arguments));
    EXPECT_EQ(program.WaitForExit(5s), 2) << arguments[0];
  }
}

TEST(ProgramTest, TerminationSignalsEndItCleanlyAndSaySo) {
  for (const auto& [signal, name] : {std::pair{SIGTERM, "SIGTERM"}, std::pair{SIGINT, "SIGINT"}}) {
    ServerProcess server(QUORVANE_PROGRAM, {});
    SyncClient peer("127.0.0.1", server.port(), 1);
    ASSERT_TRUE(peer.Handshake());
    EXPECT_EQ(server.process().Signal(signal, 5s), 0) << name;
    EXPECT_TRUE(peer.WaitClosed());
    EXPECT_TRUE(server.process().WaitForStderrLine(std::string("shutting down on ") + name, 1s));
  }
}

// The text of the chat line that closes a login, from a fresh connection.
std::string WelcomeText(std::uint16_t port) {
  SyncClient peer("127.0.0.1", port, 1);
  if (!peer.Handshake()) return "(no handshake)";
  Bytes block(46, 0x00);
  block[1] = 'Z';
  peer.Send(opcode::kLogin, block);
  while (const std::optional<Packet> packet = peer.NextPacket()) {
    if (packet->opcode != opcode::kChatLine) continue;
    const auto text = std::find(packet->payload.begin(), packet->payload.end(), 0x0A);
    return text == packet->payload.end() ? "(no line feed)"
                                         : std::string(text + 1, packet->payload.end());
  }
  return "(no welcome line)";
}

TEST(ProgramTest, ADataFolderWithoutCharactersIsReportedAtStartUp) {
  ScratchFolder empty;
  ServerProcess warned(QUORVANE_PROGRAM, {.dataDir = empty.root().string(), .extraArguments = {}});
  EXPECT_TRUE(warned.process().WaitForStderrLine("Z W no folder " +
                                                     (empty.root() / "characters").string() +
                                                     ": every login is served default data",
                                                 1s));

  ChildProcess refused(ProgramWith({"--headless", "--listen", "127.0.0.1", "--port", "0",
                                    "--data-dir", empty.root().string(), "--require-character"}));
  EXPECT_EQ(refused.WaitForExit(5s), 2);
  EXPECT_EQ(
      refused.StderrLines(),
      std::vector<std::string>{"quorvane: no folder " + (empty.root() / "characters").string() +
                               ": with --require-character every login would be refused"});
}

TEST(ProgramTest, HangUpReloadsTheWelcomeLineAndKeepsServing) {
  ScratchFolder folder;
  const std::filesystem::path config = folder.root() / "quorvane.conf";
  const auto write = [&](const std::string& text) { std::ofstream(config) << text; };
  write("welcome-text = Hello\n");
  ServerProcess server(QUORVANE_PROGRAM,
                       {.dataDir = {}, .extraArguments = {"--config", config.string()}});
  EXPECT_EQ(WelcomeText(server.port()), "Hello");

  write("welcome-text = Goodbye for now\nhandshake-timeout = 5\n");
  ::kill(server.process().pid(), SIGHUP);
  EXPECT_TRUE(server.process().WaitForStderrLine(
      "settings reloaded; at the next start: handshake-timeout", 5s));
  EXPECT_EQ(WelcomeText(server.port()), "Goodbye for now");

  write("welcome-text = Never\nport = x\n");
  ::kill(server.process().pid(), SIGHUP);
  EXPECT_TRUE(server.process().WaitForStderrLine(
      "reload failed, settings unchanged: " + config.string() + ":2: port needs", 5s));
  EXPECT_EQ(WelcomeText(server.port()), "Goodbye for now");
  EXPECT_EQ(server.process().Signal(SIGTERM, 5s), 0);

  // Once it runs, every line carries the time and level, the program's own too.
  const std::vector<std::string> errors = server.process().StderrLines();
  EXPECT_TRUE(server.process().WaitForStderrLine("Z I shutting down on SIGTERM", 0ms));
  EXPECT_TRUE(server.process().WaitForStderrLine("Z I listening on 127.0.0.1:", 0ms));
  EXPECT_TRUE(server.process().WaitForStderrLine("Z E reload failed, settings unchanged", 0ms));
  for (const std::string& line : errors) {
    EXPECT_TRUE(line.size() > 27 && line[10] == 'T' && line[23] == 'Z' && line[24] == ' ' &&
                std::string("IWE").find(line[25]) != std::string::npos && line[26] == ' ')
        << line;
  }
}

// localhost comes from /etc/hosts: no DNS server is asked. Every loopback
// address is the machine's own on Linux.
TEST(ProgramTest, ListenTakesHostNamesAndTheLineNamesEveryAddressListenedOn) {
  ChildProcess program(
      ProgramWith({"--headless", "--listen", "localhost", "--listen", "127.0.0.2", "--port", "0"}));
  const std::optional<std::string> listening = program.WaitForStderrLine("listening on ", 10s);
  ASSERT_TRUE(listening);
  const std::string port = listening->substr(listening->rfind(':') + 1);
  EXPECT_NE(listening->find("127.0.0.1:" + port), std::string::npos) << *listening;
  EXPECT_NE(listening->find("127.0.0.2:" + port), std::string::npos) << *listening;
  for (const char* address : {"127.0.0.1", "127.0.0.2"}) {
    SyncClient peer(address, static_cast<std::uint16_t>(std::stoi(port)), 1);
    EXPECT_TRUE(peer.Handshake()) << address;
  }
  EXPECT_EQ(program.Signal(SIGTERM, 5s), 0);
}

std::vector<std::string> FileLines(const std::filesystem::path& path) {
  std::ifstream file(path);
  std::vector<std::string> lines;
  for (std::string line; std::getline(file, line);) lines.push_back(line);
  return lines;
}

// Whether some line of `lines` holds `text` after a time stamp and `level`.
bool HasStampedLine(const std::vector<std::string>& lines, char level, const std::string& text) {
  return std::any_of(lines.begin(), lines.end(), [&](const std::string& line) {
    return line.size() > 27 && line[10] == 'T' && line[23] == 'Z' && line[25] == level &&
           line.find(text, 27) != std::string::npos;
  });
}

TEST(ProgramTest, LogFileHoldsTheStderrLinesStampedAndIsReopenedOnHangUp) {
  ScratchFolder folder;
  const std::filesystem::path log = folder.root() / "quorvane.log";
  const std::filesystem::path rotated = folder.root() / "quorvane.log.1";
  ServerProcess server(QUORVANE_PROGRAM,
                       {.dataDir = {}, .extraArguments = {"--log-file", log.string()}});
  {
    SyncClient peer("127.0.0.1", server.port(), 1);
    ASSERT_TRUE(peer.Handshake());
    EXPECT_TRUE(server.process().WaitForStderrLine("accepted", 5s));
  }
  std::filesystem::rename(log, rotated);
  ::kill(server.process().pid(), SIGHUP);
  EXPECT_TRUE(server.process().WaitForStderrLine("settings reloaded", 5s));
  EXPECT_EQ(server.process().Signal(SIGTERM, 5s), 0);

  const std::vector<std::string> before = FileLines(rotated);
  EXPECT_TRUE(HasStampedLine(before, 'I', "listening on 127.0.0.1:")) << Joined(before);
  EXPECT_TRUE(HasStampedLine(before, 'I', "accepted")) << Joined(before);
  const std::vector<std::string> after = FileLines(log);
  EXPECT_TRUE(HasStampedLine(after, 'I', "settings reloaded")) << Joined(after);
  EXPECT_TRUE(HasStampedLine(after, 'I', "shutting down on SIGTERM")) << Joined(after);
  EXPECT_FALSE(HasStampedLine(after, 'I', "accepted")) << Joined(after);
}

TEST(ProgramTest, ALogFileThatCannotBeOpenedEndsTheStart) {
  const std::string log = "/nonexistent/folder/quorvane.log";
  ChildProcess program(
      ProgramWith({"--headless", "--listen", "127.0.0.1", "--port", "0", "--log-file", log}));
  EXPECT_EQ(program.WaitForExit(5s), 1);
  EXPECT_TRUE(program.WaitForStderrLine(
      "quorvane: cannot open the log file " + log + ": No such file or directory", 0ms));
  EXPECT_FALSE(program.WaitForStderrLine("listening on", 0ms));
}

TEST(ProgramTest, WithoutADisplayItRunsHeadlessAndSaysSoOnce) {
  ChildProcess::Options options = ProgramWith({"--listen", "127.0.0.1", "--port", "0"});
  options.environment = {{"DISPLAY", std::nullopt},
                         {"WAYLAND_DISPLAY", std::nullopt},
                         {"QT_QPA_PLATFORM", std::nullopt}};
  ChildProcess program(options);
  const std::optional<std::string> listening = program.WaitForStderrLine("listening on ", 10s);
  ASSERT_TRUE(listening);
  const auto port =
      static_cast<std::uint16_t>(std::stoi(listening->substr(listening->rfind(':') + 1)));
  SyncClient peer("127.0.0.1", port, 1);
  ASSERT_TRUE(peer.Handshake());
  EXPECT_TRUE(program.WaitForStdoutLine("Connected client to Server1", 5s));
  const std::vector<std::string> errors = program.StderrLines();
  EXPECT_EQ(std::count_if(errors.begin(), errors.end(),
                          [](const std::string& line) {
                            return line.find("running headless") != std::string::npos;
                          }),
            1);
}

TEST(ProgramTest, HelpAndVersionGoToStandardOutput) {
  ChildProcess help(ProgramWith({"--help"}));
  EXPECT_EQ(help.WaitForExit(5s), 0);
  const std::vector<std::string> text = help.StdoutLines();
  for (const std::string option :
       {"--port", "--listen", "--data-dir", "--tick-ms", "--library", "--headless", "--version"}) {
    EXPECT_TRUE(std::any_of(text.begin(), text.end(), [&](const std::string& line) {
      return line.find(option) != std::string::npos;
    })) << option;
  }
  ChildProcess version(ProgramWith({"--version"}));
  EXPECT_EQ(version.WaitForExit(5s), 0);
  EXPECT_TRUE(version.WaitForStdoutLine("quorvane ", 0ms));
}

TEST(ClientProgramTest, VersionIsTheProjectsOnStandardOutput) {
  ChildProcess::Options options;
  options.arguments = {QUORVANE_CLIENT, "--version"};
  ChildProcess version(options);
  EXPECT_EQ(version.WaitForExit(5s), 0);
  EXPECT_EQ(version.StdoutLines(), std::vector<std::string>{"quorvane-client " QUORVANE_VERSION});
}

// No server is needed: each is refused before the client connects.
TEST(ClientProgramTest, BadCommandLinesGetOneLineAndStatusTwo) {
  const std::vector<std::vector<std::string>> cases{
      {"--bogus"},       {"--port"},          {"--port", "0"},
      {"--port", "ten"}, {"--port", "65536"}, {"--name", "Abcdefghijklmnopq"},
      {"extra"},
  };
  for (const std::vector<std::string>& arguments : cases) {
    ChildProcess::Options options;
    options.arguments = arguments;
    options.arguments.insert(options.arguments.begin(), QUORVANE_CLIENT);
    ChildProcess client(options);
    EXPECT_EQ(client.WaitForExit(5s), 2) << arguments[0];
    const std::vector<std::string> errors = client.StderrLines();
    ASSERT_EQ(errors.size(), 1u) << Joined(errors);
    EXPECT_TRUE(errors[0].starts_with("quorvane-client: ")) << errors[0];
    EXPECT_TRUE(errors[0].ends_with(" (see quorvane-client --help)")) << errors[0];
    EXPECT_TRUE(client.StdoutLines().empty()) << arguments[0];
  }
}

TEST(ClientProgramTest, PipedCommandsAreSentAndRepliesPrinted) {
  ServerProcess server(QUORVANE_PROGRAM, {});
  ChildProcess::Options options;
  options.arguments = {QUORVANE_CLIENT, "--port", std::to_string(server.port())};
  options.input = "ping\nsay 2 hello there\nbogus\n";
  ChildProcess client(options);
  EXPECT_EQ(client.WaitForExit(10s), 0);
  const std::vector<std::string> out = client.StdoutLines();
  const auto has = [&](const std::string& text) {
    return std::any_of(out.begin(), out.end(), [&](const std::string& line) {
      return line.find(text) != std::string::npos;
    });
  };
  EXPECT_TRUE(has("recv 125 Pong, 1 bytes: 00"));
  // 00, type 02, no name yet, 0A, the text.
  EXPECT_TRUE(has("recv 303 ChatLine, 14 bytes: 00 02 0a 68 65 6c 6c 6f 20 74 68 65 72 65"));
  EXPECT_TRUE(has("line type 2 from \"\": \"hello there\""));
  EXPECT_TRUE(client.WaitForStderrLine("quorvane-client: unknown command: bogus", 0ms));
}

TEST(ClientProgramTest, InputEndingStillWaitsForTheReplies) {
  ServerProcess server(QUORVANE_PROGRAM, {});
  ChildProcess::Options options;
  options.arguments = {QUORVANE_CLIENT, "--port", std::to_string(server.port()), "--name", "Ann"};
  options.input = "say hi\n";
  ChildProcess client(options);
  EXPECT_EQ(client.WaitForExit(10s), 0);
  // The name block: 00, "Ann", 00 bytes up to 46.
  std::string login = "sent 200 Login, 46 bytes: 00 41 6e 6e";
  for (int i = 0; i < 42; ++i) login += " 00";
  EXPECT_TRUE(client.WaitForStdoutLine(login, 0ms));
  EXPECT_TRUE(client.WaitForStdoutLine(": \"hi\"", 0ms)) << Joined(client.StdoutLines());
}

TEST(ClientProgramTest, QuitEndsAtOnceWithoutSendingWhatFollows) {
  ServerProcess server(QUORVANE_PROGRAM, {});
  ChildProcess::Options options;
  options.arguments = {QUORVANE_CLIENT, "--port", std::to_string(server.port())};
  options.input = "quit\nping\n";
  ChildProcess client(options);
  EXPECT_EQ(client.WaitForExit(10s), 0);
  EXPECT_FALSE(client.WaitForStdoutLine("124", 0ms));
}

TEST(ClientProgramTest, RefusedClientFailsTheHandshake) {
  ServerProcess server(QUORVANE_PROGRAM, {});
  SyncClient first("127.0.0.1", server.port(), 1);
  SyncClient second("127.0.0.1", server.port(), 2);
  ASSERT_TRUE(first.Handshake());
  ASSERT_TRUE(second.Handshake());
  ChildProcess::Options options;
  options.arguments = {QUORVANE_CLIENT, "--port", std::to_string(server.port())};
  ChildProcess client(options);
  EXPECT_EQ(client.WaitForExit(10s), 1);
  EXPECT_TRUE(client.WaitForStderrLine(
      "quorvane-client: the server closed the connection during the handshake", 0ms))
      << Joined(client.StderrLines());
}

}  // namespace
}  // namespace quorvane::testing
