// The private PulseAudio server a test runs against, reached through the
// scripts in tests/process: with_private_pulse_server.sh starts it and sets
// PRIVATE_PULSE_SCRIPT, which adds sources and feeds their FIFOs.
#pragma once

#include <string>
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

}  // namespace standin::testing
