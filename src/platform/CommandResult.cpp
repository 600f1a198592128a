#include "platform/CommandResult.h"

#include "platform/WrappedCommand.h"

namespace tirsel::kvl::agent::driver::platform {

std::string CommandResult::ToolEnding() const {
    if (!toolStatus) {
        return "did not report how it ended";
    }
    if (const std::optional<int> killedBy = WrappedCommand::SignalOf(*toolStatus)) {
        return "was killed by signal " + std::to_string(*killedBy);
    }
    return "ended with exit status " + std::to_string(*toolStatus);
}

}  // namespace tirsel::kvl::agent::driver::platform
