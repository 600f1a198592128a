#include "platform/standin/SysctlStandIn.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <map>
#include <mutex>
#include <shared_mutex>
#include <string>

#include "testing/SysctlStandIn.h"

namespace {

// Values by name; written by tests, read by any number of threads.
struct Values {
    std::shared_mutex mutex;
    std::map<std::string, std::string> byName;
};

Values& TheValues() {
    static Values values;
    return values;
}

}  // namespace

namespace tirsel::kvl::agent::driver::platform::standin {

void SetSysctlString(const std::string& name, const std::string& text) {
    Values& values = TheValues();
    std::unique_lock lock(values.mutex);
    values.byName[name] = text + '\0';
}

void ClearSysctlValues() {
    Values& values = TheValues();
    std::unique_lock lock(values.mutex);
    values.byName.clear();
}

}  // namespace tirsel::kvl::agent::driver::platform::standin

extern "C" int sysctlbyname(const char* name, void* oldp, size_t* oldlenp, void* newp,
                            size_t newlen) {
    if (newp != nullptr || newlen != 0) {
        errno = EPERM;
        return -1;
    }
    if (name == nullptr || oldlenp == nullptr) {
        errno = EINVAL;
        return -1;
    }
    Values& values = TheValues();
    std::shared_lock lock(values.mutex);
    const auto found = values.byName.find(name);
    if (found == values.byName.end()) {
        errno = ENOENT;
        return -1;
    }
    const std::string& value = found->second;
    if (oldp == nullptr) {
        *oldlenp = value.size();
        return 0;
    }
    const std::size_t fits = std::min(*oldlenp, value.size());
    std::memcpy(oldp, value.data(), fits);
    *oldlenp = fits;
    if (fits < value.size()) {
        errno = ENOMEM;
        return -1;
    }
    return 0;
}
