// Environment variables of the process's own block (which a DLL's
// GetEnvironmentVariableW reads) changed for one scope.
#ifndef VESKA_TESTS_WINDOWS_WIDE_ENV_H_
#define VESKA_TESTS_WINDOWS_WIDE_ENV_H_

#include <windows.h>

namespace veska::testing {

class ScopedEnv {
 public:
  ScopedEnv(const wchar_t* name, const wchar_t* value) : name_(name) {
    SetEnvironmentVariableW(name, value);
  }
  ~ScopedEnv() { SetEnvironmentVariableW(name_, nullptr); }
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

 private:
  const wchar_t* name_;
};

}  // namespace veska::testing

#endif  // VESKA_TESTS_WINDOWS_WIDE_ENV_H_
