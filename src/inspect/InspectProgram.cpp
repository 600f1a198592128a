#include "inspect/InspectProgram.h"

#include <cerrno>
#include <cstring>
#include <iostream>
#include <optional>
#include <utility>

#include "business/SerialComputation.h"
#include "grellan/grellan.h"
#include "inspect/BadInput.h"
#include "inspect/CaptureReader.h"
#include "inspect/CommandLine.h"
#include "inspect/DmiImage.h"
#include "inspect/FingerprintDiff.h"
#include "inspect/ReportBuilder.h"
#include "inspect/ReportPrinter.h"
#include "inspect/StepText.h"

namespace tirsel::kvl::agent::driver::inspect {

namespace {

const char* const kHelpText =
    "Usage: grellaninspect [options]\n"
    "       grellaninspect --diff A B\n"
    "\n"
    "Computes the hardware fingerprint as libgrellan's GetHardwareHash does and\n"
    "explains it: the source of the serials, the SMBIOS version, the serial of each\n"
    "structure and each digest slot exactly as it enters the digest, the fingerprint,\n"
    "and warnings when the serials are empty, placeholders or a virtual machine's;\n"
    "or, when no fingerprint can be computed, why. --snapshot adds the table's\n"
    "snapshot or, on a Mac without a table, a capture of what the fallback tools gave\n"
    "(raw serial numbers, for a ticket); --from-snapshot replays either. --diff\n"
    "compares two captures (--snapshot output, --json reports, dmidecode --dump-bin\n"
    "files or raw tables; '-' for standard input) and names the likely cause of each\n"
    "difference.\n"
    "\n"
    "Exit status: 0 explained (also with warnings; --diff: same fingerprint),\n"
    "1 wrong options, 2 input file unreadable, not a table or capture, or a capture\n"
    "of an unknown version, 3 no fingerprint could be computed, 4 --diff: the\n"
    "fingerprints differ, 5 standard output could not be written.\n"
    "\n";

FingerprintReport FromDmiFile(const std::string& file, bool withSnapshot) {
    DmiImage::Loaded loaded = DmiImage::Load(file);
    return ReportBuilder::OfHeldBytes(std::move(loaded.heldBytes), "raw table (" + file + ")",
                                      "dmi", std::move(loaded.steps), withSnapshot);
}

int Diff(const std::vector<std::string>& inputs, bool json, std::istream& in, std::ostream& out) {
    const FingerprintReport a = CaptureReader::ForDiff(CaptureReader::Read(inputs[0], in));
    const FingerprintReport b = CaptureReader::ForDiff(CaptureReader::Read(inputs[1], in));
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
        return CaptureReader::ForReplay(CaptureReader::Read(*request.fromSnapshot, in),
                                        request.withSnapshot);
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
    } catch (const BadInput& e) {
        // An input that cannot be read or used; anything else is no input's fault.
        err << "grellaninspect: " << e.what() << "\n";
        return InspectProgram::kBadInput;
    }
    if (request.withSnapshot && !report.snapshot) {
        // No table, and the fallback failed before it read anything (the
        // steps say why): no capture, and the status says what it always said.
        err << "grellaninspect: --snapshot: nothing to capture: no SMBIOS table, and the "
               "fallback tools gave nothing before they failed\n";
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
    const StepText::Name name = StepText::Source(computation.source);
    if (computation.table) {
        return ReportBuilder::OfTable(*computation.table, *computation.serials, name.description,
                                      name.key, StepText::Steps(computation), withSnapshot);
    }
    return ReportBuilder::OfFallback(computation, name.description, name.key, {}, withSnapshot);
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
