// quorvane-ctl: sends one command to a running server's control socket and
// prints the answer. Exit status 0 when the server carried the command out,
// 1 when it refused or failed it or could not be reached, 2 for a usage
// error.
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

namespace {

constexpr char kDefaultSocket[] = "/run/quorvane/control";
// The server answers at once; this is for one that has stopped turning.
constexpr int kAnswerTimeoutMs = 15000;
constexpr std::size_t kLongestAnswer = 4 * 1024 * 1024;

constexpr char kUsage[] =
    "Usage: quorvane-ctl [--socket PATH] [--json] COMMAND [ARGS...]\n"
    "Send one command to a running quorvane's control socket and print the answer.\n"
    "\n"
    "Options:\n"
    "  --socket PATH  the server's control socket (default /run/quorvane/control)\n"
    "  --json         print the answer as one JSON object\n"
    "  -h, --help     show this help and exit\n"
    "  -v, --version  show the version and exit\n"
    "\n"
    "Commands:\n"
    "  status                         slots, NPCs, bans in force, uptime\n"
    "  say TEXT                       a chat line to every logged-in player\n"
    "  kick SLOT [REASON]             tell the player in SLOT (1 or 2), then close it\n"
    "  ban RANGE [DURATION] [REASON]  refuse ADDR[/BITS] for DURATION (30m, 12h, 7d) or forever\n"
    "  unban RANGE                    remove the ban of exactly RANGE\n"
    "  bans                           every ban in force\n"
    "  shutdown [DELAY] [MESSAGE]     warn the players, then end the server\n"
    "  shutdown cancel                stop a shutdown's countdown\n"
    "  reload                         what SIGHUP does\n"
    "\n"
    "Exit status: 0 done, 1 refused or failed (or no server to ask), 2 usage error.\n";

int Usage(const std::string& problem) {
  std::fprintf(stderr, "quorvane-ctl: %s\nTry 'quorvane-ctl --help' for more information.\n",
               problem.c_str());
  return 2;
}

int Fail(const std::string& reason) {
  std::fprintf(stderr, "quorvane-ctl: %s\n", reason.c_str());
  return 1;
}

std::string ConnectError(const std::string& path, int error) {
  switch (error) {
    case ENOENT:
      return "no control socket at " + path + " (is quorvane running with --control-socket?)";
    case EACCES:
    case EPERM:
      return path + ": Permission denied: add yourself to group quorvane";
    case ECONNREFUSED:
      return "no server listening on " + path;
    default:
      return "cannot connect to " + path + ": " + std::strerror(error);
  }
}

bool SendAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t sent = ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
    if (sent < 0 && errno == EINTR) continue;
    if (sent <= 0) return false;
    bytes.remove_prefix(static_cast<std::size_t>(sent));
  }
  return true;
}

// Reads until the empty line that ends an answer; false when the server
// went or took too long.
bool ReadAnswer(int fd, std::string& answer) {
  const auto deadline =
      std::chrono::steady_clock::now() + std::chrono::milliseconds(kAnswerTimeoutMs);
  char buffer[4096];
  while (answer.find("\n\n") == std::string::npos) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0 || answer.size() > kLongestAnswer) return false;
    pollfd ready{fd, POLLIN, 0};
    const int polled = ::poll(&ready, 1, static_cast<int>(left.count()));
    if (polled < 0 && errno == EINTR) continue;
    if (polled <= 0) return false;
    const ssize_t got = ::recv(fd, buffer, sizeof buffer, 0);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return false;
    answer.append(buffer, static_cast<std::size_t>(got));
  }
  answer.resize(answer.find("\n\n") + 1);
  return true;
}

}  // namespace

int main(int argc, char* argv[]) {
  std::string path = kDefaultSocket;
  bool json = false;
  std::vector<std::string> words;
  for (int i = 1; i < argc; ++i) {
    const std::string argument = argv[i];
    if (!words.empty()) {
      words.push_back(argument);
    } else if (argument == "-h" || argument == "--help") {
      std::fputs(kUsage, stdout);
      return 0;
    } else if (argument == "-v" || argument == "--version") {
      std::puts("quorvane-ctl " QUORVANE_VERSION);
      return 0;
    } else if (argument == "--json") {
      json = true;
    } else if (argument == "--socket" || argument.starts_with("--socket=")) {
      if (argument == "--socket") {
        if (++i == argc) return Usage("--socket needs a path");
        path = argv[i];
      } else {
        path = argument.substr(std::strlen("--socket="));
      }
    } else if (argument.starts_with("-") && argument != "-") {
      return Usage("unknown option: " + argument);
    } else {
      words.push_back(argument);
    }
  }
  if (words.empty()) return Usage("no command");
  std::string line = json ? "--json" : "";
  for (const std::string& word : words) {
    if (word.find_first_of(std::string_view("\n\r\0", 3)) != std::string::npos) {
      return Usage("an argument cannot hold a line break");
    }
    line += (line.empty() ? "" : " ") + word;
  }
  line += '\n';

  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (path.size() >= sizeof address.sun_path) return Usage("the socket path is too long: " + path);
  std::memcpy(address.sun_path, path.data(), path.size());
  const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return Fail(std::string("cannot make a socket: ") + std::strerror(errno));
  if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
    return Fail(ConnectError(path, errno));
  }
  std::string answer;
  if (!SendAll(fd, line) || !ReadAnswer(fd, answer)) {
    ::close(fd);
    return Fail("no answer from the server on " + path);
  }
  ::close(fd);

  if (json) {
    std::fputs(answer.c_str(), stdout);
    // Quotes inside a JSON string are escaped: this is the answer's own key.
    return answer.find("\"ok\":true") != std::string::npos ? 0 : 1;
  }
  const std::size_t firstEnd = answer.find('\n');
  const std::string first = answer.substr(0, firstEnd);
  const std::string detail = answer.substr(firstEnd + 1);
  if (first.starts_with("ok")) {
    const std::string summary = first.size() > 3 ? first.substr(3) : std::string();
    if (!summary.empty()) std::printf("%s\n", summary.c_str());
    std::fputs(detail.c_str(), stdout);
    return 0;
  }
  return Fail(first.starts_with("error ") ? first.substr(6) : first);
}
