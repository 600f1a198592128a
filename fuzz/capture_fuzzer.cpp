// What grellaninspect does with a capture it is handed (pasted, mailed,
// edited, cut): --from-snapshot and --diff explain it or refuse it as bad
// input, never anything else; and a replayed snapshot, printed again, replays
// into the same fingerprint.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "inspect/BadInput.h"
#include "inspect/CaptureReader.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using tirsel::kvl::agent::driver::inspect::BadInput;
    using tirsel::kvl::agent::driver::inspect::CaptureReader;
    using tirsel::kvl::agent::driver::inspect::FingerprintReport;
    const CaptureReader::Input input{"fuzz", std::string(reinterpret_cast<const char*>(data), size),
                                     std::nullopt};
    try {
        (void)CaptureReader::ForDiff(input);
    } catch (const BadInput&) {
    }
    try {
        const CaptureReader::Kind kind = CaptureReader::KindOf(input);
        if (kind != CaptureReader::Kind::Snapshot && kind != CaptureReader::Kind::JsonReport) {
            return 0;
        }
        const FingerprintReport first = CaptureReader::ForReplay(input, true);
        if (!first.snapshot) {
            return 0;
        }
        const CaptureReader::Input printed{"printed", *first.snapshot, std::nullopt};
        if (CaptureReader::ForReplay(printed, false).fingerprint != first.fingerprint) {
            __builtin_trap();
        }
    } catch (const BadInput&) {
    }
    return 0;
}
