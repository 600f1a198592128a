#include "platform/WrappedCommand.h"

#include <cstddef>

#include "platform/ChildProcess.h"

namespace tirsel::kvl::agent::driver::platform {

namespace {

// A status from 0 to 255 written in decimal, or nothing.
std::optional<int> StatusNumber(const std::string& text) {
    if (text.empty() || text.size() > 3) {
        return std::nullopt;
    }
    int value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') {
            return std::nullopt;
        }
        value = value * 10 + (c - '0');
    }
    return value <= 255 ? std::optional<int>(value) : std::nullopt;
}

// The relay between the command's own pipe and the library's: by full path,
// so that no tool directory on the search path can stand in for it.
const char kRelay[] = "/bin/cat";

constexpr int kSignalStatus = 128;
constexpr int kHighestSignal = 64;

}  // namespace

std::optional<int> WrappedCommand::SignalOf(int status) {
    if (status > kSignalStatus && status <= kSignalStatus + kHighestSignal) {
        return status - kSignalStatus;
    }
    return std::nullopt;
}

std::string WrappedCommand::Text(const std::string& command, const std::string& watchedTool) {
    const std::string fd = std::to_string(ChildProcess::kStatusDescriptor);
    std::string text;
    if (!watchedTool.empty()) {
        // The subshell keeps the channel for this function; the tool and the
        // processes it leaves never get it.
        text += watchedTool + "() { command " + watchedTool + " \"$@\" " + fd +
                ">&-; set -- \"$?\"; echo \"t $1\" >&" + fd + "; return \"$1\"; }\n";
    }
    // The command on lines of its own, so nothing it ends with (a comment, a
    // trailing '&') reaches the wrapper's own text. Its output goes through
    // the relay (see the class comment), which gets no status channel.
    text += "{ (\n" + command + "\n)";
    if (watchedTool.empty()) {
        text += " " + fd + ">&-";
    }
    text += "\necho \"e $?\" >&" + fd + "\n} | " + kRelay + " " + fd + ">&-\nexec >&-\necho d >&" +
            fd + "\nread -r grellan_hold <&" + fd + "\n";
    return text;
}

WrappedCommand::Report WrappedCommand::Parse(const std::string& text) {
    Report report;
    std::size_t begin = 0;
    while (begin < text.size()) {
        std::size_t end = text.find('\n', begin);
        if (end == std::string::npos) {
            break;  // an unfinished line says nothing yet
        }
        const std::string line = text.substr(begin, end - begin);
        begin = end + 1;
        if (line == "d") {
            report.done = report.status.has_value();
            continue;
        }
        if (line.size() < 3 || line[1] != ' ') {
            continue;
        }
        const std::optional<int> number = StatusNumber(line.substr(2));
        if (line[0] == 'e' && number) {
            report.status = number;
        } else if (line[0] == 't' && number) {
            report.toolStatus = number;
        }
    }
    return report;
}

}  // namespace tirsel::kvl::agent::driver::platform
