#include "common/TirselFunctions.h"

#include <cctype>
#include <cstdio>
#include <memory>
#include <new>

namespace tirsel::kvl::agent::driver::common {

namespace {

struct PipeCloser {
    void operator()(FILE* stream) const { pclose(stream); }
};
using Pipe = std::unique_ptr<FILE, PipeCloser>;

bool IsSpace(char c) {
    return std::isspace(static_cast<unsigned char>(c)) != 0;
}

// A read that fails without reaching end of file (an interrupted call, say) is
// retried; one that keeps failing ends the loop with what was read so far.
constexpr int kMaxReadRetries = 100;

}  // namespace

std::string TirselFunctions::ExecCommand(const std::string& command) {
    std::string result;
    Pipe pipe(popen(command.c_str(), "r"));
    if (!pipe) {
        return result;
    }
    try {
        char buffer[128];
        int failures = 0;
        while (feof(pipe.get()) == 0) {
            if (fgets(buffer, sizeof buffer, pipe.get()) != nullptr) {
                result += buffer;
                failures = 0;
            } else if (ferror(pipe.get()) != 0) {
                if (++failures > kMaxReadRetries) {
                    break;
                }
                clearerr(pipe.get());
            }
        }
        if (!result.empty() && result.back() == '\n') {
            result.pop_back();
        }
    } catch (const std::bad_alloc&) {
        return std::string();  // the pipe is closed by its holder
    }
    return result;
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
