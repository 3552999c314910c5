// Runs the program in this process, with temporary files standing in for its
// text streams and a simulated stream platform for the PCM stream and time.
#pragma once

#include "common/allocation_counter.h"
#include "driver/aggregate_run.h"
#include "driver/fake_stream_platform.h"

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

inline RunResult RunInProcess(const std::vector<std::wstring>& arguments, StreamPlatform& platform,
                              AllocationCounting counting = {}) {
  std::FILE* output = std::tmpfile();
  std::FILE* error = std::tmpfile();
  EXPECT_TRUE(output != nullptr && error != nullptr);
  RunResult result;
  if (counting.failAt || counting.counted != nullptr) {
    AllocationCounter counter(counting.failAt);
    result.status = RunAggregate(arguments, {output, error}, platform);
    if (counting.counted != nullptr) *counting.counted = counter.Count();
  } else {
    result.status = RunAggregate(arguments, {output, error}, platform);
  }
  result.output = ReadAll(output);
  result.error = ReadAll(error);
  std::fclose(output);
  std::fclose(error);
  return result;
}

inline RunResult RunInProcess(const std::vector<std::wstring>& arguments) {
  FakeStreamPlatform platform;
  return RunInProcess(arguments, platform);
}

}  // namespace velmoravad::testing
