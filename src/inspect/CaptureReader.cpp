#include "inspect/CaptureReader.h"

#include <cstdint>
#include <utility>
#include <vector>

#include "common/Base64Coder.h"
#include "inspect/BadInput.h"
#include "inspect/DmiImage.h"
#include "inspect/FallbackCapture.h"
#include "inspect/InputReader.h"
#include "inspect/JsonReport.h"
#include "inspect/ReportBuilder.h"
#include "inspect/SnapshotText.h"
#include "inspect/StepText.h"
#include "smbios/EntryPoint.h"
#include "smbios/SmBios.h"

namespace tirsel::kvl::agent::driver::inspect {

namespace {

// The held bytes a table snapshot decodes to (`decoded`). Text that decodes
// to fewer bytes than its prefix declares was cut or damaged on the way:
// rejected rather than hashed into a fingerprint of some other table.
std::vector<unsigned char> HeldBytes(std::vector<unsigned char> decoded, const std::string& name) {
    const std::size_t n = decoded.size();
    if (n < smbios::kTablePrefixSize) {
        throw BadInput("not a table snapshot: SmBios can not be loaded: the text from " + name +
                       " decodes to " + std::to_string(n) +
                       " bytes, fewer than the 16-byte prefix");
    }
    const std::uint64_t stated = smbios::firmware::ReadLe32(decoded.data() + 4);
    if (n < smbios::kTablePrefixSize + stated) {
        throw BadInput("the snapshot text from " + name + " decodes to " + std::to_string(n) +
                       " bytes, fewer than the " +
                       std::to_string(smbios::kTablePrefixSize + stated) +
                       " its prefix declares (16 + a table of " + std::to_string(stated) +
                       " bytes): it was cut or damaged on the way");
    }
    return decoded;
}

// The report on the snapshot whose Base64 text SnapshotText found in `from`
// (the input, or the --json report it is): a table's or a fallback
// capture's, told apart by their decoded bytes (a table's start with the
// prefix's zero byte, a capture's with FallbackCapture::kMagic).
FingerprintReport FromSnapshot(const std::string& base64, const std::string& name,
                               const std::string& from, bool withSnapshot) {
    std::vector<unsigned char> decoded = common::Base64Coder::Decode(base64);
    FingerprintReport report =
        FallbackCapture::IsCapture(decoded)
            ? ReportBuilder::OfCapture(FallbackCapture::Read(decoded, name),
                                       "fallback capture (" + name + ")", StepText::kCaptureKey,
                                       {"fallback capture from " + from})
            : ReportBuilder::OfHeldBytes(HeldBytes(std::move(decoded), name),
                                         "snapshot (" + name + ")", "snapshot",
                                         {"snapshot text from " + from}, false);
    if (withSnapshot) {
        // The text as it came (without its white space), not encoded anew.
        report.snapshot = base64;
    }
    return report;
}

FingerprintReport FromTableFile(const CaptureReader::Input& input) {
    if (!input.path) {
        throw BadInput("a raw table on " + input.name +
                       " has no smbios_entry_point beside it: give its file instead");
    }
    DmiImage::Loaded loaded = DmiImage::FromContent(
        std::vector<unsigned char>(input.content.begin(), input.content.end()), *input.path);
    return ReportBuilder::OfHeldBytes(std::move(loaded.heldBytes), "raw table (" + input.name + ")",
                                      "dmi", std::move(loaded.steps), false);
}

}  // namespace

CaptureReader::Input CaptureReader::Read(const std::string& file, std::istream& in) {
    if (file == "-") {
        return {"standard input", InputReader::ReadStream(in, "standard input"), std::nullopt};
    }
    return {file, InputReader::ReadFile(file), file};
}

CaptureReader::Kind CaptureReader::KindOf(const Input& input) {
    const std::string& content = input.content;
    if (content.rfind("_SM_", 0) == 0 || content.rfind("_SM3_", 0) == 0) {
        return Kind::DumpBin;
    }
    // Every structure of a table has zero bytes (the string-set's end);
    // no text the tool prints has one, unless an editor saved it as UTF-16.
    if (content.rfind("\xFF\xFE", 0) == 0 || content.rfind("\xFE\xFF", 0) == 0) {
        throw BadInput(input.name +
                       " is UTF-16 text (it starts with a byte order mark): save it as UTF-8");
    }
    if (content.find('\0') != std::string::npos) {
        return Kind::RawTable;
    }
    const std::string text = SnapshotText::Unquoted(content);
    const std::size_t first = text.find_first_not_of(" \t\r\n\v\f");
    if (first != std::string::npos && text[first] == '{') {
        return Kind::JsonReport;
    }
    return Kind::Snapshot;
}

FingerprintReport CaptureReader::ForDiff(const Input& input) {
    switch (KindOf(input)) {
        case Kind::DumpBin:
        case Kind::RawTable:
            return FromTableFile(input);
        case Kind::JsonReport:
            return JsonReport::Parse(SnapshotText::Unquoted(input.content), input.name);
        case Kind::Snapshot:
            break;
    }
    return FromSnapshot(SnapshotText::Find(input.content, input.name), input.name, input.name,
                        false);
}

FingerprintReport CaptureReader::ForReplay(const Input& input, bool withSnapshot) {
    switch (KindOf(input)) {
        case Kind::DumpBin:
        case Kind::RawTable:
            throw BadInput(input.name +
                           " is binary, not snapshot text (a table file is read with --from-dmi)");
        case Kind::JsonReport: {
            const FingerprintReport printed =
                JsonReport::Parse(SnapshotText::Unquoted(input.content), input.name);
            if (!printed.snapshot) {
                throw BadInput(input.name +
                               " is a --json report without a snapshot: nothing to rebuild "
                               "(print it with --json --snapshot)");
            }
            return FromSnapshot(SnapshotText::Find(*printed.snapshot, input.name), input.name,
                                "the --json report " + input.name, withSnapshot);
        }
        case Kind::Snapshot:
            break;
    }
    return FromSnapshot(SnapshotText::Find(input.content, input.name), input.name, input.name,
                        withSnapshot);
}

}  // namespace tirsel::kvl::agent::driver::inspect
