#pragma once

// The values behind the sysctlbyname stand-in, for tests on platforms
// without it. The shipped library never fills it, so there every name is
// unknown. Fill it before starting threads that read it.

#include <string>

namespace tirsel::kvl::agent::driver::platform::standin {

// Sets the string value of `name` as xnu hands it out: `text` and a zero byte.
void SetSysctlString(const std::string& name, const std::string& text);
// Forgets every value.
void ClearSysctlValues();

// Forgets every value on entry and on exit of a test scope.
class ScopedSysctlValues {
public:
    ScopedSysctlValues() { ClearSysctlValues(); }
    ~ScopedSysctlValues() { ClearSysctlValues(); }
    ScopedSysctlValues(const ScopedSysctlValues&) = delete;
    ScopedSysctlValues& operator=(const ScopedSysctlValues&) = delete;
};

}  // namespace tirsel::kvl::agent::driver::platform::standin
