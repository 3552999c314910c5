// While an InvalidParameterScope lives, a C runtime call that is handed an
// invalid parameter (such as the descriptor of a standard stream that the
// process was started without) fails with errno set instead of ending the
// process, so that the run can report it or stop cleanly; the handler before it
// is back afterwards. The run's calls on its standard streams make one, and
// nothing else does: every other fail-fast of the C runtime keeps ending the
// process. MSVC's runtime sets the handler for the calling thread alone; the
// MinGW one (msvcrt) has only the process's handler, which is then swapped for
// the length of the call. Linux has no such handler.
#pragma once

#ifdef _WIN32
#include <stdlib.h>

#include <cstdint>
#endif

namespace velmoravad {

#ifdef _WIN32

class InvalidParameterScope {
 public:
  InvalidParameterScope() : previous_(Install(&ReturnFromInvalidParameter)) {}
  InvalidParameterScope(const InvalidParameterScope&) = delete;
  InvalidParameterScope& operator=(const InvalidParameterScope&) = delete;
  ~InvalidParameterScope() { Install(previous_); }

 private:
  static void ReturnFromInvalidParameter(const wchar_t*, const wchar_t*, const wchar_t*, unsigned,
                                         std::uintptr_t) {}
  static _invalid_parameter_handler Install(_invalid_parameter_handler handler) {
#ifdef _MSC_VER
    return _set_thread_local_invalid_parameter_handler(handler);
#else
    return _set_invalid_parameter_handler(handler);
#endif
  }

  _invalid_parameter_handler previous_;
};

#else

class InvalidParameterScope {
 public:
  // User-provided, as on Windows, so that a scope counts as used.
  InvalidParameterScope() {}
  InvalidParameterScope(const InvalidParameterScope&) = delete;
  InvalidParameterScope& operator=(const InvalidParameterScope&) = delete;
  ~InvalidParameterScope() {}
};

#endif

}  // namespace velmoravad
