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

    // White space as the "C" locale classes it: tab, LF, VT, FF, CR and
    // blank, whatever locale the host has set (std::locale::global, setlocale).
    // Every trim and split of serials and tool output classifies bytes so: a
    // host whose locale also counts 0x85 or 0xA0 gets the fingerprint of one
    // that does not.
    static bool IsSpace(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

    // Remove that white space at the ends.
    static void trim(std::string& s);
    static void ltrim(std::string& s);
    static void rtrim(std::string& s);
};

}  // namespace tirsel::kvl::agent::driver::common
