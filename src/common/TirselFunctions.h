#pragma once

#include <string>

namespace tirsel::kvl::agent::driver::common {

// Shell command execution and in-place trimming. Stateless; never throws.
class TirselFunctions {
public:
    TirselFunctions() = delete;

    // Runs `command` through /bin/sh (platform::CommandRunner, with its
    // isolation and bounds) and returns its standard output with at most one
    // final line feed removed; empty when the command cannot be started,
    // prints nothing, or does not run to its end (killed, past a bound).
    // Whatever a command printed before exiting with any status is kept.
    // For a caller that needs the text only: the fallback and the EFI scan
    // call CommandRunner itself, since they must also know how the command
    // ended (a failed tool is no empty field).
    static std::string ExecCommand(const std::string& command);

    // Remove C-locale white space (tab, LF, VT, FF, CR, blank) at the ends.
    static void trim(std::string& s);
    static void ltrim(std::string& s);
    static void rtrim(std::string& s);
};

}  // namespace tirsel::kvl::agent::driver::common
