// The private PulseAudio (or PipeWire) server a test runs against, reached
// through the scripts in tests/process: with_private_pulse_server.sh starts it
// and sets PRIVATE_PULSE_SCRIPT, which adds sources and feeds their FIFOs.
// The script runs with the process's environment, which ScopedEnvironment and
// ScopedSecondServer change: change it only while no BackgroundFeed runs.
#pragma once

#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace standin::testing {

// Runs the script with these arguments (each quoted for the shell); its
// standard output, or an empty string with *ok false when it failed.
std::string RunServerScript(const std::vector<std::string>& arguments, bool* ok);

// Output of a shell command, with *ok false when it failed.
std::string RunShell(const std::string& command, bool* ok);

// Number of lines of `pactl <arguments>` that contain `text`; -1 when pactl fails.
int CountPactlLines(const std::string& arguments, const std::string& text);

// Whether the test runs inside with_private_pulse_server.sh.
bool HasPrivateServer();

// Sets an environment variable for one scope.
class ScopedEnvironment {
 public:
  ScopedEnvironment(const char* name, const std::string& value);
  ScopedEnvironment(const ScopedEnvironment&) = delete;
  ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;
  ~ScopedEnvironment();

 private:
  const char* name_;
  std::optional<std::string> old_;
};

// Another private server of the same kind for one scope: clients and the
// script reach it instead of the test's own until the scope ends, which stops
// it. Started() is false when it did not come up.
class ScopedSecondServer {
 public:
  ScopedSecondServer();
  ScopedSecondServer(const ScopedSecondServer&) = delete;
  ScopedSecondServer& operator=(const ScopedSecondServer&) = delete;
  ~ScopedSecondServer();

  bool Started() const { return server_.has_value(); }
  const std::string& Directory() const { return directory_; }

 private:
  std::string directory_;
  std::optional<ScopedEnvironment> server_;
  std::optional<ScopedEnvironment> serverDirectory_;
};

// A feed through the script on a thread of its own, for feeds that take their
// time (a sink plays in real time); joined on destruction.
class BackgroundFeed {
 public:
  explicit BackgroundFeed(std::vector<std::string> arguments);
  BackgroundFeed(const BackgroundFeed&) = delete;
  BackgroundFeed& operator=(const BackgroundFeed&) = delete;
  ~BackgroundFeed();

  // Waits for the feed; whether it succeeded.
  bool Finish();

 private:
  std::thread thread_;
  bool ok_ = false;
};

}  // namespace standin::testing
