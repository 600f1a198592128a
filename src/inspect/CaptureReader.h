#pragma once

#include <iosfwd>
#include <optional>
#include <string>

#include "inspect/FingerprintReport.h"

namespace tirsel::kvl::agent::driver::inspect {

// The captures grellaninspect reads back, told apart by their content in one
// way (KindOf), each explained as the report it stands for.
class CaptureReader {
public:
    enum class Kind {
        DumpBin,     // dmidecode --dump-bin: a "_SM_" or "_SM3_" entry point at offset 0
        RawTable,    // binary (it holds a zero byte): a structure table such as
                     // /sys/firmware/dmi/tables/DMI, its entry point in the file
                     // smbios_entry_point beside it
        JsonReport,  // text whose first character, past white space and quote
                     // markers, is '{': what --json printed
        Snapshot,    // any other text: a snapshot as --snapshot printed it (a
                     // table's, or a fallback capture), found by SnapshotText
    };

    // An input as read: its content, the name messages give it, and the path
    // of its file (none for standard input).
    struct Input {
        std::string name;
        std::string content;
        std::optional<std::string> path;
    };

    // The file's content, or standard input's for "-". Throws BadInput when
    // it cannot be read or is too large.
    static Input Read(const std::string& file, std::istream& in);

    // Throws BadInput for UTF-16 text, which would look binary.
    static Kind KindOf(const Input& input);

    // One side of --diff: a capture of any kind. A --json report is taken as
    // it was printed (its serials and structures, not explained anew).
    static FingerprintReport ForDiff(const Input& input);

    // --from-snapshot: the table or the fallback capture in a snapshot text,
    // or in the "snapshot" of a --json report, explained as on the machine it
    // was taken on; with `withSnapshot`, the report carries the snapshot text
    // as it came (without its white space).
    static FingerprintReport ForReplay(const Input& input, bool withSnapshot);
};

}  // namespace tirsel::kvl::agent::driver::inspect
