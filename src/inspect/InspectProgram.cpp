#include "inspect/InspectProgram.h"

#include <boost/algorithm/string/trim.hpp>
#include <boost/beast/core/detail/base64.hpp>
#include <boost/program_options.hpp>
#include <exception>
#include <fstream>
#include <iostream>
#include <iterator>
#include <list>
#include <sstream>
#include <stdexcept>

#include "business/HwHashCalculator.h"
#include "inspect/DmiImage.h"
#include "inspect/ReportPrinter.h"
#include "smbios/SmBios.h"

namespace tirsel::kvl::agent::driver::inspect {

namespace {

namespace po = boost::program_options;
using business::HwHashCalculator;
using smbios::SmBios;

const char* const kHelpText =
    "Usage: grellaninspect [options]\n"
    "\n"
    "Computes the hardware fingerprint as libgrellan's GetHardwareHash does and\n"
    "explains it: the source of the serials, the SMBIOS version, each serial as it\n"
    "enters the digest, and the fingerprint; or, when none can be computed, why.\n"
    "\n"
    "Exit status: 0 explained, 1 wrong options, 2 input file unreadable or not a\n"
    "table, 3 no fingerprint could be computed.\n"
    "\n";

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

std::string ReadAll(std::istream& in) {
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

std::string ReadSnapshotText(const std::string& file, std::istream& in) {
    std::string text;
    if (file == "-") {
        text = ReadAll(in);
    } else {
        std::ifstream stream(file, std::ios::binary);
        if (!stream) {
            throw std::runtime_error("cannot read " + file);
        }
        text = ReadAll(stream);
    }
    // Snapshot texts pasted from a ticket come with line breaks and blanks.
    boost::algorithm::trim(text);
    return text;
}

std::string Base64(const std::vector<unsigned char>& bytes) {
    std::string text(boost::beast::detail::base64::encoded_size(bytes.size()), '\0');
    text.resize(boost::beast::detail::base64::encode(text.data(), bytes.data(), bytes.size()));
    return text;
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

}  // namespace

FingerprintReport InspectProgram::ExplainTable(const SmBios& table, std::string source,
                                               std::string sourceKey, bool withSnapshot) {
    FingerprintReport report;
    report.source = std::move(source);
    report.sourceKey = std::move(sourceKey);
    report.smbiosVersion = VersionText(table);
    const std::size_t held = table.HeldBytes().size();
    report.steps.push_back(
        "table of " +
        std::to_string(held > smbios::kTablePrefixSize ? held - smbios::kTablePrefixSize : 0) +
        " bytes, " + std::to_string(CountStructures(table)) + " structures indexed");
    HwHashCalculator calculator;
    report.serials = calculator.SerialsFromTable(table);
    if (table.Version() < 0x0203) {
        report.steps.push_back("SMBIOS " + VersionText(table) +
                               " is older than 2.3: processor serials are not read");
    }
    report.fingerprint = HwHashCalculator::HashText(*report.serials);
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
    } catch (const std::exception& e) {
        // The processor serial parses ioreg's registry dump; it is the one that throws.
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
    return report;
}

int InspectProgram::Run(int argc, const char* const* argv, std::istream& in, std::ostream& out,
                        std::ostream& err) {
    po::options_description options("Options");
    options.add_options()("help,h", "print this help and exit")(
        "snapshot", "also print the table's snapshot text (for a support ticket)")(
        "from-snapshot", po::value<std::string>()->value_name("FILE"),
        "rebuild the table from snapshot text in FILE ('-' for standard input) instead of "
        "reading this machine")(
        "from-dmi", po::value<std::string>()->value_name("FILE"),
        "read a raw structure table (/sys/firmware/dmi/tables/DMI with smbios_entry_point "
        "beside it) or a dmidecode --dump-bin file instead of reading this machine")(
        "json", "print everything as one JSON object");
    po::variables_map vm;
    try {
        po::store(po::command_line_parser(argc, argv).options(options).run(), vm);
        po::notify(vm);
        if (vm.count("from-snapshot") != 0 && vm.count("from-dmi") != 0) {
            throw po::error("--from-snapshot and --from-dmi exclude each other");
        }
    } catch (const po::error& e) {
        err << "grellaninspect: " << e.what() << "\n"
            << "Try 'grellaninspect --help'.\n";
        return kUsage;
    }
    if (vm.count("help") != 0) {
        out << kHelpText << options;
        return kExplained;
    }
    const bool withSnapshot = vm.count("snapshot") != 0;

    FingerprintReport report;
    try {
        if (vm.count("from-snapshot") != 0) {
            const std::string file = vm["from-snapshot"].as<std::string>();
            const std::string name = file == "-" ? "standard input" : file;
            report = FromText(ReadSnapshotText(file, in), "snapshot (" + name + ")", "snapshot",
                              {"snapshot text from " + name}, withSnapshot);
        } else if (vm.count("from-dmi") != 0) {
            const std::string file = vm["from-dmi"].as<std::string>();
            DmiImage::Loaded loaded = DmiImage::Load(file);
            report = FromText(Base64(loaded.heldBytes), "raw table (" + file + ")", "dmi",
                              std::move(loaded.steps), withSnapshot);
        } else {
            report = ExplainMachine(withSnapshot);
        }
    } catch (const std::logic_error& e) {
        err << "grellaninspect: not a table snapshot: " << e.what() << "\n";
        return kBadInput;
    } catch (const std::exception& e) {
        err << "grellaninspect: " << e.what() << "\n";
        return kBadInput;
    }

    if (vm.count("json") != 0) {
        ReportPrinter::PrintJson(report, out);
    } else {
        ReportPrinter::PrintText(report, out);
    }
    return report.fingerprint ? kExplained : kNoFingerprint;
}

}  // namespace tirsel::kvl::agent::driver::inspect
