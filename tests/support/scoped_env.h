// Environment variables changed for one scope.
#ifndef VESKA_TESTS_SUPPORT_SCOPED_ENV_H_
#define VESKA_TESTS_SUPPORT_SCOPED_ENV_H_

#include <stdlib.h>

#include <optional>
#include <string>

namespace veska::testing {

// Sets `name` to `value` (or removes it, for null) until this goes; then puts
// back what was there, or its absence.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const char* value) : name_(name) {
    if (const char* old = std::getenv(name)) old_ = old;
    if (value != nullptr) {
      setenv(name, value, 1);
    } else {
      unsetenv(name);
    }
  }
  ~ScopedEnv() {
    if (old_) {
      setenv(name_.c_str(), old_->c_str(), 1);
    } else {
      unsetenv(name_.c_str());
    }
  }
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

 private:
  std::string name_;
  std::optional<std::string> old_;
};

}  // namespace veska::testing

#endif  // VESKA_TESTS_SUPPORT_SCOPED_ENV_H_
