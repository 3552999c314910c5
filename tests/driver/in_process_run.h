// Runs the program in this process, with temporary files standing in for its
// text streams and simulated time, standard output and pipe calls for the rest.
#pragma once

#include "announcement/fake_pipe_system.h"
#include "common/allocation_counter.h"
#include "common/fake_clock.h"
#include "driver/aggregate_run.h"
#include "driver/fake_standard_output.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <optional>
#include <string>
#include <vector>

namespace velmoravad::testing {

struct RunResult {
  int status;
  std::string output;
  std::string error;
};

// The simulated services of a streaming run: time that passes only when the
// run waits, a standard output that records the blocks, and pipe calls whose
// writers the test adds (none by default: the announcement channels stay silent).
struct FakeServices {
  FakeClock clock;
  FakeStandardOutput output{clock};
  FakePipeSystem& pipes = NewFakePipeSystem();

  StreamingServices Get() { return {clock, output, pipes}; }
};

inline std::string ReadAll(std::FILE* stream) {
  std::string text;
  std::rewind(stream);
  char buffer[4096];
  std::size_t got = 0;
  while ((got = std::fread(buffer, 1, sizeof buffer, stream)) > 0) text.append(buffer, got);
  return text;
}

// Allocations of the run alone to count, and the one among them to fail.
struct AllocationCounting {
  std::optional<std::size_t> failAt;
  std::size_t* counted = nullptr;
};

inline RunResult RunInProcess(const std::vector<std::wstring>& arguments,
                              const StreamingServices& services, AllocationCounting counting = {}) {
  std::FILE* output = std::tmpfile();
  std::FILE* error = std::tmpfile();
  EXPECT_TRUE(output != nullptr && error != nullptr);
  RunResult result;
  if (counting.failAt || counting.counted != nullptr) {
    AllocationCounter counter(counting.failAt);
    result.status = RunAggregate(arguments, {output, error}, services);
    if (counting.counted != nullptr) *counting.counted = counter.Count();
  } else {
    result.status = RunAggregate(arguments, {output, error}, services);
  }
  result.output = ReadAll(output);
  result.error = ReadAll(error);
  std::fclose(output);
  std::fclose(error);
  return result;
}

inline RunResult RunInProcess(const std::vector<std::wstring>& arguments) {
  FakeServices services;
  return RunInProcess(arguments, services.Get());
}

}  // namespace velmoravad::testing
