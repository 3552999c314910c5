// HRESULT values of the program's own, the Win32-error conversion and the text
// of the failure report. Failures travel as HRESULTs and are only ever tested
// for being negative.
#pragma once

#include <windows.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <new>
#include <stdexcept>
#include <string>
#include <string_view>

namespace velmoravad {

// HRESULT_FROM_WIN32: an error number of 0 or below (as a signed 32-bit value)
// passes unchanged; any other becomes 0x80070000 with its low 16 bits.
constexpr HRESULT HresultFromWin32(std::uint32_t error) {
  const auto asSigned = static_cast<std::int32_t>(error);
  if (asSigned <= 0) return static_cast<HRESULT>(asSigned);
  return static_cast<HRESULT>((error & 0x0000FFFFu) | 0x80070000u);
}

// The HRESULT of a Win32 call that failed, from the error it left. A failed call
// that left no error number (0) still yields a failure, E_FAIL, rather than a
// success that would let the caller go on without what the call should have made.
constexpr HRESULT HresultFromFailedWin32Call(std::uint32_t lastError) {
  const HRESULT result = HresultFromWin32(lastError);
  return result < 0 ? result : E_FAIL;
}

// The program's own failures, from the Win32 errors that describe them.
inline constexpr HRESULT kDuplicateSlot = HresultFromWin32(ERROR_DUP_NAME);           // 0x80070034
inline constexpr HRESULT kNoApplicationEndpoint = HresultFromWin32(ERROR_NOT_FOUND);  // 0x80070490
inline constexpr HRESULT kChannelCountOverflow =
    HresultFromWin32(ERROR_ARITHMETIC_OVERFLOW);  // 0x80070216

constexpr bool Failed(HRESULT result) { return result < 0; }

// Runs `step` and returns its HRESULT. Memory that runs out on the way (an
// allocation that throws) gives E_OUTOFMEMORY, so the step fails the usual way
// instead of ending the process.
template <class Step>
HRESULT CatchOutOfMemory(Step&& step) noexcept {
  try {
    return step();
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  } catch (const std::length_error&) {
    return E_OUTOFMEMORY;
  }
}

// "<label> failed: 0x<8 upper-case hex digits>\n", the one report of a failed
// run. Formatted without allocating, so that it goes out even when memory has run
// out; a label is a fixed text of the program's, far shorter than the room here.
class FailureReport {
 public:
  FailureReport(std::string_view label, HRESULT result);
  std::string_view Text() const { return {text_.data(), length_}; }

 private:
  std::array<char, 128> text_{};
  std::size_t length_ = 0;
};

}  // namespace velmoravad
