#include "common/TirselFunctions.h"

#include "platform/CommandRunner.h"
#include "platform/CommandSettings.h"

namespace tirsel::kvl::agent::driver::common {

std::string TirselFunctions::ExecCommand(const std::string& command) {
    const platform::CommandSettings& settings = platform::CurrentCommandSettings();
    return platform::CommandRunner::Run({command, std::string()}, settings,
                                        settings.ToolEnvironment())
        .output;
}

void TirselFunctions::rtrim(std::string& s) {
    std::size_t end = s.size();
    while (end > 0 && IsSpace(s[end - 1])) {
        --end;
    }
    s.erase(end);
}

void TirselFunctions::ltrim(std::string& s) {
    std::size_t begin = 0;
    while (begin < s.size() && IsSpace(s[begin])) {
        ++begin;
    }
    s.erase(0, begin);
}

void TirselFunctions::trim(std::string& s) {
    rtrim(s);
    ltrim(s);
}

}  // namespace tirsel::kvl::agent::driver::common
