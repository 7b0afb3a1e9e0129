#include "server_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <stdexcept>
#include <thread>
#include <utility>

namespace quorvane::testing {
namespace {

using Clock = std::chrono::steady_clock;

std::chrono::milliseconds Remaining(Clock::time_point deadline) {
  return std::max(std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()),
                  std::chrono::milliseconds(0));
}

// A server writes a line on standard error for each connection and login;
// a test or benchmark that reads between timed runs must not stall it in
// the meantime. Best effort: a smaller pipe still works.
constexpr int kPipeSize = 1024 * 1024;

void MakePipe(int ends[2]) {
  if (::pipe2(ends, O_CLOEXEC) != 0) throw std::runtime_error("pipe2 failed");
  ::fcntl(ends[0], F_SETPIPE_SZ, kPipeSize);
}

constexpr auto kStartTimeout = std::chrono::seconds(10);

}  // namespace

ChildProcess::ChildProcess(const Options& options) {
  int in[2], out[2], err[2];
  MakePipe(in);
  MakePipe(out);
  MakePipe(err);
  std::vector<char*> argv;
  for (const std::string& argument : options.arguments) {
    argv.push_back(const_cast<char*>(argument.c_str()));
  }
  argv.push_back(nullptr);

  pid_ = ::fork();
  if (pid_ < 0) throw std::runtime_error("fork failed");
  if (pid_ == 0) {
    ::dup2(in[0], STDIN_FILENO);
    ::dup2(out[1], STDOUT_FILENO);
    ::dup2(err[1], STDERR_FILENO);
    for (const auto& [name, value] : options.environment) {
      if (value) {
        ::setenv(name.c_str(), value->c_str(), 1);
      } else {
        ::unsetenv(name.c_str());
      }
    }
    ::execv(argv[0], argv.data());
    ::_exit(127);
  }
  ::close(in[0]);
  ::close(out[1]);
  ::close(err[1]);
  std::size_t written = 0;
  while (written < options.input.size()) {
    const ssize_t n =
        ::write(in[1], options.input.data() + written, options.input.size() - written);
    if (n <= 0) break;
    written += static_cast<std::size_t>(n);
  }
  ::close(in[1]);
  stdout_.fd = out[0];
  stderr_.fd = err[0];
}

ChildProcess::~ChildProcess() {
  if (!Reap(false)) {
    ::kill(pid_, SIGKILL);
    Reap(true);
  }
  for (Stream* stream : {&stdout_, &stderr_}) {
    if (stream->fd >= 0) ::close(stream->fd);
  }
}

bool ChildProcess::Pump(std::chrono::milliseconds timeout) {
  std::vector<pollfd> waiters;
  std::vector<Stream*> streams;
  for (Stream* stream : {&stdout_, &stderr_}) {
    if (stream->fd < 0 || stream->stalled) continue;
    waiters.push_back({stream->fd, POLLIN, 0});
    streams.push_back(stream);
  }
  if (waiters.empty()) return false;
  if (::poll(waiters.data(), waiters.size(), static_cast<int>(timeout.count())) <= 0) return false;
  for (std::size_t i = 0; i < waiters.size(); ++i) {
    if (waiters[i].revents == 0) continue;
    Stream& stream = *streams[i];
    char chunk[4096];
    const ssize_t got = ::read(stream.fd, chunk, sizeof chunk);
    if (got <= 0) {
      ::close(stream.fd);
      stream.fd = -1;
      if (!stream.partial.empty()) stream.lines.push_back(std::exchange(stream.partial, {}));
      continue;
    }
    stream.partial.append(chunk, static_cast<std::size_t>(got));
    std::size_t end;
    while ((end = stream.partial.find('\n')) != std::string::npos) {
      stream.lines.push_back(stream.partial.substr(0, end));
      stream.partial.erase(0, end + 1);
    }
  }
  return true;
}

std::optional<std::string> ChildProcess::WaitForLine(Stream& stream, const std::string& text,
                                                     std::chrono::milliseconds timeout) {
  const auto deadline = Clock::now() + timeout;
  for (;;) {
    for (const std::string& line : stream.lines) {
      if (line.find(text) != std::string::npos) return line;
    }
    if (stdout_.fd < 0 && stderr_.fd < 0) return std::nullopt;
    // Output already written is read even when the time is up.
    if (!Pump(Remaining(deadline)) && Clock::now() >= deadline) return std::nullopt;
  }
}

std::optional<std::string> ChildProcess::WaitForStdoutLine(const std::string& text,
                                                           std::chrono::milliseconds timeout) {
  return WaitForLine(stdout_, text, timeout);
}

std::optional<std::string> ChildProcess::WaitForStderrLine(const std::string& text,
                                                           std::chrono::milliseconds timeout) {
  return WaitForLine(stderr_, text, timeout);
}

std::optional<int> ChildProcess::Signal(int signal, std::chrono::milliseconds timeout) {
  if (!Reap(false)) ::kill(pid_, signal);
  return WaitForExit(timeout);
}

std::optional<int> ChildProcess::WaitForExit(std::chrono::milliseconds timeout) {
  const auto deadline = Clock::now() + timeout;
  while (!Reap(false)) {
    if (Clock::now() >= deadline) return std::nullopt;
    // Keep reading so that the child never blocks on a full pipe.
    if (!Pump(std::min(Remaining(deadline), std::chrono::milliseconds(10)))) {
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
  }
  return status_;
}

void ChildProcess::ReadAvailable() {
  while (Pump(std::chrono::milliseconds(0))) {
  }
}

void ChildProcess::CloseStdout() {
  if (stdout_.fd >= 0) ::close(std::exchange(stdout_.fd, -1));
}

void ChildProcess::Stall(Stream& stream, bool stalled) {
  stream.stalled = stalled;
  if (stalled && stream.fd >= 0) ::fcntl(stream.fd, F_SETPIPE_SZ, 4096);
}

std::vector<std::string> ChildProcess::StdoutLines() {
  ReadAvailable();
  return stdout_.lines;
}

std::vector<std::string> ChildProcess::StderrLines() {
  ReadAvailable();
  return stderr_.lines;
}

bool ChildProcess::Reap(bool wait) {
  if (status_) return true;
  int raw = 0;
  const pid_t done = ::waitpid(pid_, &raw, wait ? 0 : WNOHANG);
  if (done != pid_) return false;
  status_ = WIFEXITED(raw) ? WEXITSTATUS(raw) : -WTERMSIG(raw);
  return true;
}

ServerProcess::ServerProcess(const std::string& program, const Settings& settings)
    : process_([&] {
        ChildProcess::Options options;
        options.arguments = {program,
                             "--listen",
                             "127.0.0.1",
                             "--port",
                             "0",
                             "--tick-ms",
                             std::to_string(settings.tickMs)};
        if (settings.headless) options.arguments.push_back("--headless");
        if (!settings.dataDir.empty()) {
          options.arguments.insert(options.arguments.end(), {"--data-dir", settings.dataDir});
        }
        options.arguments.insert(options.arguments.end(), settings.extraArguments.begin(),
                                 settings.extraArguments.end());
        options.environment = settings.environment;
        return options;
      }()) {
  const std::optional<std::string> line =
      process_.WaitForStderrLine("listening on 127.0.0.1:", kStartTimeout);
  if (!line) {
    std::string errors;
    for (const std::string& error : process_.StderrLines()) errors += error + "\n";
    throw std::runtime_error("the server did not start listening:\n" + errors);
  }
  port_ = static_cast<std::uint16_t>(std::stoi(line->substr(line->rfind(':') + 1)));
}

bool ServerProcess::WaitForLogCount(const std::string& line, std::size_t count,
                                    std::chrono::milliseconds timeout) {
  const auto deadline = Clock::now() + timeout;
  for (;;) {
    const std::vector<std::string> lines = process_.StdoutLines();
    if (static_cast<std::size_t>(std::count(lines.begin(), lines.end(), line)) >= count) {
      return true;
    }
    if (Clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
}

}  // namespace quorvane::testing
