#pragma once

#include <iosfwd>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

namespace tirsel::kvl::agent::driver::inspect {

// grellaninspect's command line, parsed with the C library's getopt_long on
// every platform: long options (unambiguous prefixes accepted, values as
// "--opt VALUE" or "--opt=VALUE"), -h, "--" ending the options, and the
// other arguments (inputs) in their order.
class CommandLine {
public:
    // A command line that cannot be used; what() says why.
    class Error : public std::runtime_error {
    public:
        using std::runtime_error::runtime_error;
    };

    // Throws Error for an unknown, ambiguous or repeated option, a missing
    // value, or a value given to an option that takes none.
    static CommandLine Parse(int argc, const char* const* argv);

    // The options and their descriptions, as --help prints them.
    static void PrintOptions(std::ostream& out);

    // Whether the option named (without dashes) was given.
    bool Has(const std::string& name) const { return values.count(name) != 0; }
    // The value of an option that takes one; empty for one not given.
    std::string Value(const std::string& name) const;
    const std::vector<std::string>& Inputs() const { return inputs; }

private:
    std::map<std::string, std::string> values;
    std::vector<std::string> inputs;
};

}  // namespace tirsel::kvl::agent::driver::inspect
