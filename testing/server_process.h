// A program run as a child process for end-to-end tests: its standard output
// and error are captured line by line, waits are bounded, and the process is
// killed when the object goes away.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace quorvane::testing {

class ChildProcess {
 public:
  struct Options {
    std::vector<std::string> arguments;  // the program first
    // Set (or, with no value, removed) in the child's environment.
    std::map<std::string, std::optional<std::string>> environment;
    std::string input;  // written to standard input, which then closes
  };

  explicit ChildProcess(const Options& options);
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;
  ~ChildProcess();

  // Waits until a whole line of standard output (or error) contains `text`;
  // returns that line, or nothing when none came in time.
  std::optional<std::string> WaitForStdoutLine(const std::string& text,
                                               std::chrono::milliseconds timeout);
  std::optional<std::string> WaitForStderrLine(const std::string& text,
                                               std::chrono::milliseconds timeout);

  // Sends a signal and waits for the exit; the exit status, or -signal when
  // it died of one, or nothing when it did not end in time.
  std::optional<int> Signal(int signal, std::chrono::milliseconds timeout);
  std::optional<int> WaitForExit(std::chrono::milliseconds timeout);

  // Reads whatever output is ready, so that a chatty child never blocks on a
  // full pipe.
  void ReadAvailable();
  // Closes this end of the child's standard output, as a log reader that
  // goes away would.
  void CloseStdout();
  // Stops reading the child's standard output (or error), as a reader that
  // stalls would, until resumed; the pipe shrinks to one page, so that a few
  // dozen lines fill it.
  void StallStdout() { Stall(stdout_, true); }
  void StallStderr() { Stall(stderr_, true); }
  void ResumeStdout() { Stall(stdout_, false); }
  void ResumeStderr() { Stall(stderr_, false); }
  pid_t pid() const { return pid_; }

  // Lines read so far (reads what is ready first).
  std::vector<std::string> StdoutLines();
  std::vector<std::string> StderrLines();

 private:
  struct Stream {
    int fd = -1;
    bool stalled = false;
    std::string partial;
    std::vector<std::string> lines;
  };

  // Reads whatever is ready within the timeout; false when nothing came.
  bool Pump(std::chrono::milliseconds timeout);
  std::optional<std::string> WaitForLine(Stream& stream, const std::string& text,
                                         std::chrono::milliseconds timeout);
  bool Reap(bool wait);
  static void Stall(Stream& stream, bool stalled);

  pid_t pid_ = -1;
  std::optional<int> status_;
  Stream stdout_;
  Stream stderr_;
};

// The real server on 127.0.0.1 and a port the OS picks, headless unless told.
class ServerProcess {
 public:
  struct Settings {
    std::string dataDir;
    int tickMs = 5000;
    std::vector<std::string> extraArguments;
    // False opens the window, on the display the environment names.
    bool headless = true;
    // Set (or, with no value, removed) in the server's environment.
    std::map<std::string, std::optional<std::string>> environment = {};
  };

  ServerProcess(const std::string& program, const Settings& settings);

  std::uint16_t port() const { return port_; }
  ChildProcess& process() { return process_; }
  // Waits until the log (standard output) holds `count` lines equal to
  // `line`; false when it did not in time.
  bool WaitForLogCount(const std::string& line, std::size_t count,
                       std::chrono::milliseconds timeout = std::chrono::seconds(5));
  std::vector<std::string> LogLines() { return process_.StdoutLines(); }

 private:
  ChildProcess process_;
  std::uint16_t port_ = 0;
};

}  // namespace quorvane::testing
