#include "inspect/InspectProgram.h"

#include <cctype>
#include <cerrno>
#include <cstring>
#include <exception>
#include <iostream>
#include <list>
#include <optional>
#include <stdexcept>
#include <utility>

#include "business/DigestSlots.h"
#include "business/HwHashCalculator.h"
#include "business/SerialComputation.h"
#include "common/Base64Coder.h"
#include "grellan/grellan.h"
#include "inspect/CommandLine.h"
#include "inspect/DmiImage.h"
#include "inspect/FingerprintDiff.h"
#include "inspect/InputReader.h"
#include "inspect/ReportPrinter.h"
#include "inspect/WeakSerials.h"
#include "smbios/EntryPoint.h"
#include "smbios/SmBios.h"

namespace tirsel::kvl::agent::driver::inspect {

namespace {

using business::DigestSlots;
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

// A snapshot text without its white space, and the held bytes it decodes to.
struct Snapshot {
    std::string text;
    std::vector<unsigned char> heldBytes;
};

// Snapshot text as people paste it from mail and tickets: wrapped, indented.
// White space is no Base64 character, so it is dropped wherever it stands;
// the library's own decoding stays as it is. Text that decodes to fewer
// bytes than its prefix declares was cut or damaged on the way: rejected
// rather than hashed into a fingerprint of some other table.
Snapshot CheckedSnapshot(const std::string& raw, const std::string& name) {
    Snapshot snapshot;
    std::string& text = snapshot.text;
    text.reserve(raw.size());
    for (const char c : raw) {
        if (std::isspace(static_cast<unsigned char>(c)) == 0) {
            text += c;
        }
    }
    std::vector<unsigned char>& decoded = snapshot.heldBytes;
    decoded = common::Base64Coder::Decode(text);
    const std::size_t n = decoded.size();
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
    return snapshot;
}

// Each structure's serial, in digest order, as the calculator reads it; a
// slot the table is too old for is said in the steps instead.
void AddStructures(const SmBios& table, FingerprintReport& report) {
    for (const DigestSlots::Slot& slot : DigestSlots::kDigestOrder) {
        if (!DigestSlots::IsRead(slot, table.Version())) {
            report.steps.push_back("SMBIOS " + VersionText(table) + " is older than " +
                                   DigestSlots::VersionText(slot.sinceVersion) + ": " + slot.name +
                                   " serials are not read");
            continue;
        }
        for (const DigestSlots::Contribution& c : DigestSlots::Structures(slot, table)) {
            report.structures.push_back(
                {slot.name, slot.type, c.structure->header->Handle, c.stringNumber, c.serial});
        }
    }
}

void AddWarnings(FingerprintReport& report) {
    if (report.serials && report.fingerprint) {
        report.warnings =
            WeakSerials::Find(*report.serials, report.structures, *report.fingerprint);
    }
}

// The report on `serials`, read from `table`: after `steps` (how the table was
// obtained), its size and what it holds for each slot.
FingerprintReport TableReport(const SmBios& table, business::HardwareSerials serials,
                              std::string source, std::string sourceKey,
                              std::vector<std::string> steps, bool withSnapshot) {
    FingerprintReport report;
    report.source = std::move(source);
    report.sourceKey = std::move(sourceKey);
    report.smbiosVersion = VersionText(table);
    report.steps = std::move(steps);
    const std::size_t held = table.HeldBytes().size();
    TableShape shape;
    shape.bytes = held > smbios::kTablePrefixSize ? held - smbios::kTablePrefixSize : 0;
    shape.structures = CountStructures(table);
    shape.walkEnd = smbios::WalkTable(table.HeldBytes());
    report.table = shape;
    report.steps.push_back("table of " + std::to_string(shape.bytes) + " bytes, " +
                           std::to_string(shape.structures) + " structures indexed");
    AddStructures(table, report);
    report.serials = std::move(serials);
    report.fingerprint = HwHashCalculator::HashText(*report.serials);
    AddWarnings(report);
    if (withSnapshot) {
        report.snapshot = table.SnapshotText();
    }
    return report;
}

FingerprintReport FromHeldBytes(std::vector<unsigned char> heldBytes, std::string source,
                                std::string sourceKey, std::vector<std::string> steps,
                                bool withSnapshot) {
    const SmBios table(std::move(heldBytes));
    return TableReport(table, HwHashCalculator().SerialsFromTable(table), std::move(source),
                       std::move(sourceKey), std::move(steps), withSnapshot);
}

FingerprintReport FromSnapshot(const std::string& raw, const std::string& name, bool withSnapshot) {
    Snapshot snapshot = CheckedSnapshot(raw, name);
    FingerprintReport report =
        FromHeldBytes(std::move(snapshot.heldBytes), "snapshot (" + name + ")", "snapshot",
                      {"snapshot text from " + name}, withSnapshot);
    if (withSnapshot) {
        // The text as it came (without its white space), not encoded anew.
        report.snapshot = std::move(snapshot.text);
    }
    return report;
}

FingerprintReport FromDumpBin(const std::string& raw, const std::string& name, bool withSnapshot) {
    DmiImage::Loaded loaded =
        DmiImage::FromBytes(std::vector<unsigned char>(raw.begin(), raw.end()), {});
    loaded.steps.insert(loaded.steps.begin(), name + ": dmidecode dump-bin layout");
    return FromHeldBytes(std::move(loaded.heldBytes), "raw table (" + name + ")", "dmi",
                         std::move(loaded.steps), withSnapshot);
}

FingerprintReport FromDmiFile(const std::string& file, bool withSnapshot) {
    DmiImage::Loaded loaded = DmiImage::Load(file);
    return FromHeldBytes(std::move(loaded.heldBytes), "raw table (" + file + ")", "dmi",
                         std::move(loaded.steps), withSnapshot);
}

// A file's content, or standard input's for "-", and the name to give it.
std::pair<std::string, std::string> ReadInput(const std::string& file, std::istream& in) {
    if (file == "-") {
        return {"standard input", InputReader::ReadStream(in, "standard input")};
    }
    return {file, InputReader::ReadFile(file)};
}

// One side of --diff: a dump-bin file (it starts with an entry point) or
// snapshot text.
FingerprintReport LoadCapture(const std::string& file, std::istream& in) {
    const auto [name, raw] = ReadInput(file, in);
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

// What the command line asks for, once its options are checked.
struct Request {
    bool diff = false;
    std::vector<std::string> inputs;  // --diff's A and B
    std::optional<std::string> fromSnapshot;
    std::optional<std::string> fromDmi;
    bool withSnapshot = false;
    bool json = false;
};

// The report on a snapshot, a raw table or, without either, this machine.
FingerprintReport Explain(const Request& request, std::istream& in) {
    if (request.fromSnapshot) {
        const auto [name, raw] = ReadInput(*request.fromSnapshot, in);
        return FromSnapshot(raw, name, request.withSnapshot);
    }
    if (request.fromDmi) {
        return FromDmiFile(*request.fromDmi, request.withSnapshot);
    }
    return InspectProgram::ExplainMachine(request.withSnapshot);
}

// Explains or compares what the request names and prints the result. An
// input that cannot be read or used is reported on `err` instead.
int Answer(const Request& request, std::istream& in, std::ostream& out, std::ostream& err) {
    FingerprintReport report;
    try {
        if (request.diff) {
            return Diff(request.inputs, request.json, in, out);
        }
        report = Explain(request, in);
    } catch (const std::logic_error& e) {
        err << "grellaninspect: not a table snapshot: " << e.what() << "\n";
        return InspectProgram::kBadInput;
    } catch (const std::exception& e) {
        err << "grellaninspect: " << e.what() << "\n";
        return InspectProgram::kBadInput;
    }

    if (request.json) {
        ReportPrinter::PrintJson(report, out);
    } else {
        ReportPrinter::PrintText(report, out);
    }
    return report.fingerprint ? InspectProgram::kExplained : InspectProgram::kNoFingerprint;
}

int Inspect(int argc, const char* const* argv, std::istream& in, std::ostream& out,
            std::ostream& err) {
    CommandLine args;
    try {
        args = CommandLine::Parse(argc, argv);
        const std::vector<std::string>& inputs = args.Inputs();
        const bool diff = args.Has("diff");
        if (args.Has("from-snapshot") && args.Has("from-dmi")) {
            throw CommandLine::Error("--from-snapshot and --from-dmi exclude each other");
        }
        if (diff && (args.Has("from-snapshot") || args.Has("from-dmi"))) {
            throw CommandLine::Error(
                "--diff takes its two inputs as arguments, not --from-snapshot or "
                "--from-dmi");
        }
        if (diff && inputs.size() != 2) {
            throw CommandLine::Error("--diff needs two inputs, A and B; got " +
                                     std::to_string(inputs.size()));
        }
        if (diff && inputs[0] == "-" && inputs[1] == "-") {
            throw CommandLine::Error("--diff reads standard input ('-') for one input only");
        }
        if (!diff && !inputs.empty()) {
            throw CommandLine::Error("unexpected argument '" + inputs[0] +
                                     "' (use --from-snapshot or --from-dmi to read a file)");
        }
    } catch (const CommandLine::Error& e) {
        err << "grellaninspect: " << e.what() << "\n"
            << "Try 'grellaninspect --help'.\n";
        return InspectProgram::kUsage;
    }
    if (args.Has("help")) {
        out << kHelpText;
        CommandLine::PrintOptions(out);
        return InspectProgram::kExplained;
    }
    if (args.Has("version")) {
        out << "grellaninspect " << GRELLAN_VERSION_STRING << "\n";
        return InspectProgram::kExplained;
    }
    Request request;
    request.diff = args.Has("diff");
    request.inputs = args.Inputs();
    if (args.Has("from-snapshot")) {
        request.fromSnapshot = args.Value("from-snapshot");
    }
    if (args.Has("from-dmi")) {
        request.fromDmi = args.Value("from-dmi");
    }
    request.withSnapshot = args.Has("snapshot");
    request.json = args.Has("json");
    return Answer(request, in, out, err);
}

}  // namespace

FingerprintReport InspectProgram::ExplainMachine(bool withSnapshot) {
    const business::SerialComputation computation = business::SerialComputation::OfThisMachine();
    const business::SourceName name = business::NameOf(computation.source);
    if (computation.table) {
        return TableReport(*computation.table, *computation.serials, name.description, name.key,
                           computation.steps, withSnapshot);
    }
    FingerprintReport report;
    report.source = name.description;
    report.sourceKey = name.key;
    report.steps = computation.steps;
    report.toolFailure = computation.failedCommand;
    report.valueOrigins = computation.valueOrigins;
    report.serials = computation.serials;
    if (report.serials) {
        report.fingerprint = HwHashCalculator::HashText(*report.serials);
        AddWarnings(report);
    }
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
