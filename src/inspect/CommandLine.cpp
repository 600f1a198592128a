#include "inspect/CommandLine.h"

#include <getopt.h>
#include <unistd.h>

#include <cstddef>
#include <cstring>
#include <ostream>

namespace tirsel::kvl::agent::driver::inspect {

namespace {

struct OptionSpec {
    const char* name;
    bool takesValue;
    const char* valueName;
    const char* description;
};

// Code 0 stands for -h (it is also --help); the rest are their index + 1000.
constexpr int kFirstLongCode = 1000;

const OptionSpec kOptions[] = {
    {"help", false, nullptr, "print this help and exit"},
    {"version", false, nullptr, "print the tool's version and exit"},
    {"snapshot", false, nullptr,
     "also print the snapshot text (for a support ticket): the table's or, without a table, "
     "the capture of what the fallback tools gave; it holds raw serial numbers"},
    {"from-snapshot", true, "FILE",
     "replay the table or fallback capture in FILE ('-' for standard input): what --snapshot "
     "printed, saved, piped, wrapped or mail-quoted, or a --json --snapshot report"},
    {"from-dmi", true, "FILE",
     "read a raw structure table (/sys/firmware/dmi/tables/DMI with smbios_entry_point beside "
     "it) or a dmidecode --dump-bin file instead of reading this machine"},
    {"diff", false, nullptr,
     "compare two captures A and B (table snapshots, fallback captures, --json reports, "
     "dump-bin files or raw tables; '-' for standard input): which slots differ, with the "
     "likely cause, and which structures"},
    {"json", false, nullptr, "print everything as one JSON object"},
};
constexpr std::size_t kOptionCount = sizeof kOptions / sizeof kOptions[0];

// Why getopt_long refused `arg` (the argument it was looking at), in the
// tool's own words. getopt_long's own codes and messages differ between the
// C libraries, so the argument is examined here instead.
std::string Refusal(const std::string& arg, int shortOption) {
    if (arg.rfind("--", 0) != 0) {
        return "unrecognised option '-" + std::string(1, static_cast<char>(shortOption)) + "'";
    }
    const std::string::size_type equals = arg.find('=');
    const std::string name =
        arg.substr(2, equals == std::string::npos ? std::string::npos : equals - 2);
    std::vector<const OptionSpec*> matches;
    for (const OptionSpec& option : kOptions) {
        if (name == option.name) {
            matches.assign(1, &option);
            break;
        }
        if (!name.empty() && std::strncmp(option.name, name.c_str(), name.size()) == 0) {
            matches.push_back(&option);
        }
    }
    const std::string given = "--" + name;
    if (matches.empty()) {
        return "unrecognised option '" + given + "'";
    }
    if (matches.size() > 1) {
        std::string text = "option '" + given + "' is ambiguous and matches";
        for (std::size_t i = 0; i < matches.size(); ++i) {
            text += std::string(i == 0 ? " '--" : ", '--") + matches[i]->name + "'";
        }
        return text;
    }
    const std::string full = std::string("--") + matches[0]->name;
    if (matches[0]->takesValue) {
        return "the required argument for option '" + full + "' is missing";
    }
    return "option '" + full + "' does not take any arguments";
}

}  // namespace

CommandLine CommandLine::Parse(int argc, const char* const* argv) {
    std::vector<option> longOptions;
    longOptions.reserve(kOptionCount + 1);
    for (std::size_t i = 0; i < kOptionCount; ++i) {
        longOptions.push_back({kOptions[i].name,
                               kOptions[i].takesValue ? required_argument : no_argument, nullptr,
                               kFirstLongCode + static_cast<int>(i)});
    }
    longOptions.push_back({nullptr, 0, nullptr, 0});

    // getopt_long takes non-constant strings (it may reorder them); it gets
    // copies, so the caller's arguments stay as they are.
    std::vector<std::string> copies(argv, argv + argc);
    std::vector<char*> args;
    args.reserve(copies.size() + 1);
    for (std::string& copy : copies) {
        args.push_back(&copy[0]);
    }
    args.push_back(nullptr);

    // "-": every other argument comes back in its place as code 1, so that
    // options and inputs mix freely with either C library; ":": a missing
    // value is reported, not printed. opterr = 0: getopt_long prints nothing.
    static const char* const kShortOptions = "-:h";
    opterr = 0;
#if defined(__GLIBC__)
    optind = 0;  // glibc: start a fresh scan
#else
    optreset = 1;  // the BSD C libraries (macOS): start a fresh scan
    optind = 1;
#endif
    CommandLine line;
    for (;;) {
        const int at = optind == 0 ? 1 : optind;  // the argument getopt_long looks at
        const int code = getopt_long(argc, args.data(), kShortOptions, longOptions.data(), nullptr);
        if (code == -1) {
            break;
        }
        if (code == 1) {
            line.inputs.emplace_back(optarg);
            continue;
        }
        if (code == '?' || code == ':') {
            const int index = at < argc ? at : argc - 1;
            throw Error(Refusal(argv[index], optopt));
        }
        const std::size_t option =
            code == 'h' ? 0 : static_cast<std::size_t>(code - kFirstLongCode);
        const std::string name = kOptions[option].name;
        if (line.Has(name)) {
            throw Error("option '--" + name + "' cannot be given more than once");
        }
        line.values[name] = kOptions[option].takesValue ? optarg : "";
    }
    // Whatever follows "--" is input.
    for (int i = optind; i < argc; ++i) {
        line.inputs.emplace_back(argv[i]);
    }
    return line;
}

std::string CommandLine::Value(const std::string& name) const {
    const auto found = values.find(name);
    return found == values.end() ? std::string() : found->second;
}

void CommandLine::PrintOptions(std::ostream& out) {
    constexpr std::size_t kColumn = 24;  // where descriptions start
    constexpr std::size_t kWidth = 79;   // the longest line
    out << "Options:\n";
    for (const OptionSpec& option : kOptions) {
        std::string line = std::strcmp(option.name, "help") == 0
                               ? std::string("  -h [ --help ]")
                               : std::string("  --") + option.name;
        if (option.takesValue) {
            line += std::string(" ") + option.valueName;
        }
        line.resize(kColumn, ' ');
        // The description, wrapped at spaces; continuation lines indented.
        bool lineEmpty = true;
        const std::string words = option.description;
        std::string::size_type start = 0;
        while (start < words.size()) {
            std::string::size_type end = words.find(' ', start);
            end = end == std::string::npos ? words.size() : end;
            const std::string word = words.substr(start, end - start);
            if (!lineEmpty && line.size() + 1 + word.size() > kWidth) {
                out << line << "\n";
                line.assign(kColumn, ' ');
                lineEmpty = true;
            }
            line += (lineEmpty ? "" : " ") + word;
            lineEmpty = false;
            start = end + 1;
        }
        out << line << "\n";
    }
}

}  // namespace tirsel::kvl::agent::driver::inspect
