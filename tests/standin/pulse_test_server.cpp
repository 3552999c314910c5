#include "standin/pulse_test_server.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <sstream>

namespace standin::testing {
namespace {

std::string ShellQuoted(const std::string& text) {
  std::string quoted = "'";
  for (char c : text) {
    if (c == '\'') {
      quoted += "'\\''";
    } else {
      quoted += c;
    }
  }
  return quoted + "'";
}

}  // namespace

std::string RunShell(const std::string& command, bool* ok) {
  std::string output;
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) {
    *ok = false;
    return output;
  }
  char buffer[4096];
  std::size_t read = 0;
  while ((read = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) output.append(buffer, read);
  *ok = pclose(pipe) == 0;
  return output;
}

std::string RunServerScript(const std::vector<std::string>& arguments, bool* ok) {
  const char* script = std::getenv("PRIVATE_PULSE_SCRIPT");
  if (script == nullptr) {
    *ok = false;
    return {};
  }
  std::string command = ShellQuoted(script);
  for (const std::string& argument : arguments) command += " " + ShellQuoted(argument);
  return RunShell(command, ok);
}

int CountPactlLines(const std::string& arguments, const std::string& text) {
  bool ok = false;
  const std::string output = RunShell("timeout 5 pactl " + arguments, &ok);
  std::istringstream lines(output);
  int count = 0;
  for (std::string line; std::getline(lines, line);) {
    if (line.find(text) != std::string::npos) ++count;
  }
  return ok ? count : -1;
}

bool HasPrivateServer() {
  return std::getenv("PRIVATE_PULSE_SCRIPT") != nullptr && std::getenv("PULSE_SERVER") != nullptr;
}

ScopedEnvironment::ScopedEnvironment(const char* name, const std::string& value) : name_(name) {
  if (const char* old = std::getenv(name)) old_ = old;
  setenv(name, value.c_str(), 1);
}

ScopedEnvironment::~ScopedEnvironment() {
  if (old_) {
    setenv(name_, old_->c_str(), 1);
  } else {
    unsetenv(name_);
  }
}

ScopedSecondServer::ScopedSecondServer() {
  bool ok = false;
  const std::string exports = RunServerScript({"start", "--owner", std::to_string(getpid())}, &ok);
  const std::string key = "export PRIVATE_PULSE_DIR=";
  const std::size_t at = exports.find(key);
  if (!ok || at == std::string::npos) return;
  directory_ = exports.substr(at + key.size(), exports.find('\n', at) - at - key.size());
  server_.emplace("PULSE_SERVER", "unix:" + directory_ + "/pulse.sock");
  serverDirectory_.emplace("PRIVATE_PULSE_DIR", directory_);
}

ScopedSecondServer::~ScopedSecondServer() {
  serverDirectory_.reset();
  server_.reset();
  bool ok = false;
  if (!directory_.empty()) RunServerScript({"stop", directory_}, &ok);
}

BackgroundFeed::BackgroundFeed(std::vector<std::string> arguments)
    : thread_([this, arguments = std::move(arguments)] {
        std::vector<std::string> command{"feed"};
        command.insert(command.end(), arguments.begin(), arguments.end());
        RunServerScript(command, &ok_);
      }) {}

BackgroundFeed::~BackgroundFeed() { Finish(); }

bool BackgroundFeed::Finish() {
  if (thread_.joinable()) thread_.join();
  return ok_;
}

}  // namespace standin::testing
