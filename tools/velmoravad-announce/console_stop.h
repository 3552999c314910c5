// Ctrl+C (and Ctrl+Break, or the console closing) asks the announce tool to
// stop: the console control handler sets a flag that the tool looks at between
// its waits, so that it closes the pipe and ends with status 130.
//
// Threading and lifetime: Windows runs the handler on a thread of its own (the
// Linux stand-in in a signal handler), so the flag is a lock-free atomic and the
// handler does nothing else. One object at a time registers the handler, from
// its construction to its destruction.
#pragma once

#include <atomic>

namespace velmoravad {

class ConsoleStop {
 public:
  ConsoleStop();
  ConsoleStop(const ConsoleStop&) = delete;
  ConsoleStop& operator=(const ConsoleStop&) = delete;
  ~ConsoleStop();

  // Set once a control event has come.
  const std::atomic<bool>& Requested() const;

 private:
  bool registered_ = false;
};

}  // namespace velmoravad
