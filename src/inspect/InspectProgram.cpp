#include "inspect/InspectProgram.h"

#include <boost/beast/core/detail/base64.hpp>
#include <boost/program_options.hpp>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <exception>
#include <iostream>
#include <list>
#include <stdexcept>

#include "business/HwHashCalculator.h"
#include "common/CommandFailed.h"
#include "grellan/grellan.h"
#include "inspect/DmiImage.h"
#include "inspect/FingerprintDiff.h"
#include "inspect/InputReader.h"
#include "inspect/ReportPrinter.h"
#include "inspect/WeakSerials.h"
#include "smbios/EntryPoint.h"
#include "smbios/SmBios.h"

namespace tirsel::kvl::agent::driver::inspect {

namespace {

namespace po = boost::program_options;
namespace base64 = boost::beast::detail::base64;
using business::HwHashCalculator;
using smbios::SmBios;

const char* const kHelpText =
    "Usage: grellaninspect [options]\n"
    "       grellaninspect --diff A B\n"
    "\n"
    "Computes the hardware fingerprint as libgrellan's GetHardwareHash does and\n"
    "explains it: the source of the serials, the SMBIOS version, the serial of each\n"
    "structure and each digest slot exactly as it enters the digest, the fingerprint,\n"
    "and warnings when the serials are empty, placeholders or a virtual machine's;\n"
    "or, when no fingerprint can be computed, why. --diff compares two captures\n"
    "(snapshot text or dmidecode --dump-bin files, '-' for standard input).\n"
    "\n"
    "Exit status: 0 explained (also with warnings; --diff: same fingerprint),\n"
    "1 wrong options, 2 input file unreadable or not a table, 3 no fingerprint could\n"
    "be computed, 4 --diff: the fingerprints differ, 5 standard output could not be\n"
    "written.\n"
    "\n";

// A bad input file: reported with exit status 2.
class BadInput : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

std::size_t CountStructures(const SmBios& table) {
    std::size_t count = 0;
    std::list<SmBios::CStruct*> structures;
    for (unsigned type = 0; type < 256; ++type) {
        table.GetStructData(static_cast<unsigned char>(type), structures);
        count += structures.size();
    }
    return count;
}

std::string VersionText(const SmBios& table) {
    return std::to_string(table.MajorVersion()) + "." + std::to_string(table.MinorVersion());
}

std::string Base64(const std::vector<unsigned char>& bytes) {
    std::string text(base64::encoded_size(bytes.size()), '\0');
    text.resize(base64::encode(text.data(), bytes.data(), bytes.size()));
    return text;
}

// Snapshot text as people paste it from mail and tickets: wrapped, indented.
// White space is no Base64 character, so it is dropped wherever it stands;
// the library's own decoding stays as it is. Text that decodes to fewer
// bytes than its prefix declares was cut or damaged on the way: rejected
// rather than hashed into a fingerprint of some other table.
std::string CheckedSnapshotText(const std::string& raw, const std::string& name) {
    std::string text;
    text.reserve(raw.size());
    for (const char c : raw) {
        if (std::isspace(static_cast<unsigned char>(c)) == 0) {
            text += c;
        }
    }
    std::vector<unsigned char> decoded(text.size() / 4 * 3 + 2);
    const std::size_t n = base64::decode(decoded.data(), text.data(), text.size()).first;
    if (n < smbios::kTablePrefixSize) {
        throw std::logic_error("SmBios can not be loaded: the text from " + name + " decodes to " +
                               std::to_string(n) + " bytes, fewer than the 16-byte prefix");
    }
    const std::uint64_t stated = smbios::firmware::ReadLe32(decoded.data() + 4);
    if (n < smbios::kTablePrefixSize + stated) {
        throw BadInput("the snapshot text from " + name + " decodes to " + std::to_string(n) +
                       " bytes, fewer than the " +
                       std::to_string(smbios::kTablePrefixSize + stated) +
                       " its prefix declares (16 + a table of " + std::to_string(stated) +
                       " bytes): it was cut or damaged on the way");
    }
    return text;
}

// Each structure's serial, in digest order, as LoadSmBiosSerial reads it.
template <class T>
void AddStructures(const SmBios& table, unsigned char type, const char* slot,
                   std::vector<StructureSerial>& out) {
    constexpr std::size_t kOffset = offsetof(T, SerialNumber);
    std::list<SmBios::CStruct*> structures;
    table.GetStructData(type, structures);
    for (const SmBios::CStruct* structure : structures) {
        StructureSerial entry;
        entry.slot = slot;
        entry.type = type;
        entry.handle = structure->header->Handle;
        if (structure->header->Length > kOffset) {
            const auto* bytes = reinterpret_cast<const unsigned char*>(structure->header);
            entry.stringNumber = bytes[kOffset];
            entry.serial = structure->GetString(bytes[kOffset]);
        }
        out.push_back(std::move(entry));
    }
}

FingerprintReport FromText(const std::string& text, const std::string& source,
                           const std::string& sourceKey, std::vector<std::string> steps,
                           bool withSnapshot) {
    const SmBios table(text);  // throws std::logic_error for too short a text
    FingerprintReport report = InspectProgram::ExplainTable(table, source, sourceKey, withSnapshot);
    steps.insert(steps.end(), report.steps.begin(), report.steps.end());
    report.steps = std::move(steps);
    return report;
}

FingerprintReport FromSnapshot(const std::string& raw, const std::string& name, bool withSnapshot) {
    return FromText(CheckedSnapshotText(raw, name), "snapshot (" + name + ")", "snapshot",
                    {"snapshot text from " + name}, withSnapshot);
}

FingerprintReport FromDumpBin(const std::string& raw, const std::string& name, bool withSnapshot) {
    DmiImage::Loaded loaded =
        DmiImage::FromBytes(std::vector<unsigned char>(raw.begin(), raw.end()), {});
    loaded.steps.insert(loaded.steps.begin(), name + ": dmidecode dump-bin layout");
    return FromText(Base64(loaded.heldBytes), "raw table (" + name + ")", "dmi",
                    std::move(loaded.steps), withSnapshot);
}

// One side of --diff: a dump-bin file (it starts with an entry point) or
// snapshot text.
FingerprintReport LoadCapture(const std::string& file, std::istream& in) {
    const std::string name = file == "-" ? "standard input" : file;
    const std::string raw =
        file == "-" ? InputReader::ReadStream(in, name) : InputReader::ReadFile(file);
    if (raw.rfind("_SM_", 0) == 0 || raw.rfind("_SM3_", 0) == 0) {
        return FromDumpBin(raw, name, false);
    }
    return FromSnapshot(raw, name, false);
}

int Diff(const std::vector<std::string>& inputs, bool json, std::istream& in, std::ostream& out) {
    const FingerprintReport a = LoadCapture(inputs[0], in);
    const FingerprintReport b = LoadCapture(inputs[1], in);
    const FingerprintDiff diff(a, b, inputs[0], inputs[1]);
    if (json) {
        diff.PrintJson(out);
    } else {
        diff.PrintText(out);
    }
    return diff.SameFingerprint() ? InspectProgram::kExplained : InspectProgram::kDifferent;
}

void AddWarnings(FingerprintReport& report) {
    if (report.serials && report.fingerprint) {
        report.warnings =
            WeakSerials::Find(*report.serials, report.structures, *report.fingerprint);
    }
}

int Inspect(int argc, const char* const* argv, std::istream& in, std::ostream& out,
            std::ostream& err) {
    po::options_description options("Options");
    options.add_options()("help,h", "print this help and exit")(
        "version", "print the tool's version and exit")(
        "snapshot", "also print the table's snapshot text (for a support ticket)")(
        "from-snapshot", po::value<std::string>()->value_name("FILE"),
        "rebuild the table from snapshot text in FILE ('-' for standard input) instead of "
        "reading this machine")(
        "from-dmi", po::value<std::string>()->value_name("FILE"),
        "read a raw structure table (/sys/firmware/dmi/tables/DMI with smbios_entry_point "
        "beside it) or a dmidecode --dump-bin file instead of reading this machine")(
        "diff",
        "compare two captures A and B (snapshot text or dump-bin files, '-' for "
        "standard input): which slots and structures differ")(
        "json", "print everything as one JSON object");
    po::options_description hidden;
    hidden.add_options()("input", po::value<std::vector<std::string>>());
    po::options_description all;
    all.add(options).add(hidden);
    po::positional_options_description positional;
    positional.add("input", -1);

    po::variables_map vm;
    std::vector<std::string> inputs;
    try {
        po::store(po::command_line_parser(argc, argv).options(all).positional(positional).run(),
                  vm);
        po::notify(vm);
        if (vm.count("input") != 0) {
            inputs = vm["input"].as<std::vector<std::string>>();
        }
        const bool diff = vm.count("diff") != 0;
        if (vm.count("from-snapshot") != 0 && vm.count("from-dmi") != 0) {
            throw po::error("--from-snapshot and --from-dmi exclude each other");
        }
        if (diff && (vm.count("from-snapshot") != 0 || vm.count("from-dmi") != 0)) {
            throw po::error(
                "--diff takes its two inputs as arguments, not --from-snapshot or "
                "--from-dmi");
        }
        if (diff && inputs.size() != 2) {
            throw po::error("--diff needs two inputs, A and B; got " +
                            std::to_string(inputs.size()));
        }
        if (diff && inputs[0] == "-" && inputs[1] == "-") {
            throw po::error("--diff reads standard input ('-') for one input only");
        }
        if (!diff && !inputs.empty()) {
            throw po::error("unexpected argument '" + inputs[0] +
                            "' (use --from-snapshot or --from-dmi to read a file)");
        }
    } catch (const po::error& e) {
        err << "grellaninspect: " << e.what() << "\n"
            << "Try 'grellaninspect --help'.\n";
        return InspectProgram::kUsage;
    }
    if (vm.count("help") != 0) {
        out << kHelpText << options;
        return InspectProgram::kExplained;
    }
    if (vm.count("version") != 0) {
        out << "grellaninspect " << GRELLAN_VERSION_STRING << "\n";
        return InspectProgram::kExplained;
    }
    const bool withSnapshot = vm.count("snapshot") != 0;
    const bool json = vm.count("json") != 0;

    FingerprintReport report;
    try {
        if (vm.count("diff") != 0) {
            return Diff(inputs, json, in, out);
        }
        if (vm.count("from-snapshot") != 0) {
            const std::string file = vm["from-snapshot"].as<std::string>();
            const std::string name = file == "-" ? "standard input" : file;
            const std::string raw =
                file == "-" ? InputReader::ReadStream(in, name) : InputReader::ReadFile(file);
            report = FromSnapshot(raw, name, withSnapshot);
        } else if (vm.count("from-dmi") != 0) {
            const std::string file = vm["from-dmi"].as<std::string>();
            DmiImage::Loaded loaded = DmiImage::Load(file);
            report = FromText(Base64(loaded.heldBytes), "raw table (" + file + ")", "dmi",
                              std::move(loaded.steps), withSnapshot);
        } else {
            report = InspectProgram::ExplainMachine(withSnapshot);
        }
    } catch (const std::logic_error& e) {
        err << "grellaninspect: not a table snapshot: " << e.what() << "\n";
        return InspectProgram::kBadInput;
    } catch (const std::exception& e) {
        err << "grellaninspect: " << e.what() << "\n";
        return InspectProgram::kBadInput;
    }

    if (json) {
        ReportPrinter::PrintJson(report, out);
    } else {
        ReportPrinter::PrintText(report, out);
    }
    return report.fingerprint ? InspectProgram::kExplained : InspectProgram::kNoFingerprint;
}

}  // namespace

FingerprintReport InspectProgram::ExplainTable(const SmBios& table, std::string source,
                                               std::string sourceKey, bool withSnapshot) {
    FingerprintReport report;
    report.source = std::move(source);
    report.sourceKey = std::move(sourceKey);
    report.smbiosVersion = VersionText(table);
    const std::size_t held = table.HeldBytes().size();
    TableShape shape;
    shape.bytes = held > smbios::kTablePrefixSize ? held - smbios::kTablePrefixSize : 0;
    shape.structures = CountStructures(table);
    shape.walkEnd = smbios::WalkTable(table.HeldBytes());
    report.table = shape;
    report.steps.push_back("table of " + std::to_string(shape.bytes) + " bytes, " +
                           std::to_string(shape.structures) + " structures indexed");
    HwHashCalculator calculator;
    report.serials = calculator.SerialsFromTable(table);
    AddStructures<SmBios::_CHASSIS>(table, 3, "chassis", report.structures);
    AddStructures<SmBios::_SYSTEM>(table, 1, "system", report.structures);
    AddStructures<SmBios::_BASEBOARD>(table, 2, "baseboard", report.structures);
    if (table.Version() < 0x0203) {
        report.steps.push_back("SMBIOS " + VersionText(table) +
                               " is older than 2.3: processor serials are not read");
    } else {
        AddStructures<SmBios::_PROCESSOR>(table, 4, "processor", report.structures);
    }
    report.fingerprint = HwHashCalculator::HashText(*report.serials);
    AddWarnings(report);
    if (withSnapshot) {
        report.snapshot = table.SnapshotText();
    }
    return report;
}

FingerprintReport InspectProgram::ExplainMachine(bool withSnapshot) {
    const SmBios table;
    if (table.loaded) {
        static const char* const kNames[] = {"none", "registry table (AppleSMBIOS)",
                                             "legacy memory scan", "EFI memory scan"};
        static const char* const kKeys[] = {"none", "registry", "legacy-scan", "efi-scan"};
        const auto index = static_cast<std::size_t>(table.Source());
        FingerprintReport report = ExplainTable(table, kNames[index], kKeys[index], withSnapshot);
        report.steps.insert(report.steps.begin(), table.AcquisitionSteps().begin(),
                            table.AcquisitionSteps().end());
        return report;
    }
    FingerprintReport report;
    report.source = "fallback tools (system_profiler, ioreg, I/O Kit registry)";
    report.sourceKey = "fallback";
    report.steps = table.AcquisitionSteps();
    report.steps.push_back("no SMBIOS table: asking system_profiler, ioreg and the registry");
    try {
        report.serials = HwHashCalculator().SerialsFromFallback();
    } catch (const common::CommandFailed& e) {
        // A tool that failed leaves its serial unknown: no fingerprint.
        report.toolFailure = ToolFailure{e.Command(), e.Reason()};
        report.steps.push_back("a tool failed (" + e.Reason() + "): " + e.Command());
        return report;
    } catch (const std::exception& e) {
        // Otherwise the processor serial's parse of ioreg's registry dump is
        // what throws. Any failure here is "no fingerprint", as
        // GetHardwareHash reports it (an empty string).
        report.steps.push_back(std::string("the registry dump could not be parsed: ") + e.what());
        return report;
    }
    const business::HardwareSerials& s = *report.serials;
    if (s.system.empty()) {
        report.steps.push_back("system_profiler printed no Serial Number line");
    }
    if (s.processor == " ") {
        report.steps.push_back(
            "no processor name (no Chip or Processor Name line) and no unique-chip-id");
    }
    if (s.baseboard.empty()) {
        report.steps.push_back(
            "no mlb-serial-number data in the IOPlatformExpertDevice registry service");
    }
    report.fingerprint = HwHashCalculator::HashText(s);
    AddWarnings(report);
    return report;
}

int InspectProgram::Run(int argc, const char* const* argv, std::istream& in, std::ostream& out,
                        std::ostream& err) {
    errno = 0;
    const int status = Inspect(argc, argv, in, out, err);
    // A report that did not reach its reader is a failure, not an explanation
    // (a full disk, /dev/full, a closed pipe).
    out.flush();
    if (!out) {
        const int error = errno;
        err << "grellaninspect: cannot write to standard output"
            << (error != 0 ? std::string(": ") + std::strerror(error) : std::string()) << "\n";
        return kWriteFailed;
    }
    return status;
}

}  // namespace tirsel::kvl::agent::driver::inspect
