#include "standin/pulse_test_server.h"

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

}  // namespace standin::testing
