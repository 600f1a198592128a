#pragma once

#include <string>

namespace tirsel::kvl::agent::driver::common {

// Shell command execution and in-place trimming. Stateless; never throws.
class TirselFunctions {
public:
    TirselFunctions() = delete;

    // Runs `command` through the system shell and returns its standard output
    // with at most one final line feed removed; empty when the command cannot
    // be started or prints nothing.
    static std::string ExecCommand(const std::string& command);

    // Remove C-locale white space (tab, LF, VT, FF, CR, blank) at the ends.
    static void trim(std::string& s);
    static void ltrim(std::string& s);
    static void rtrim(std::string& s);
};

}  // namespace tirsel::kvl::agent::driver::common
