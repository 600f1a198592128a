#pragma once

#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

#include "inspect/FingerprintReport.h"

namespace tirsel::kvl::agent::driver::inspect {

// What differs between two explained tables: the digest slots, the serials of
// the structures (matched by type and handle) and the fingerprint.
class FingerprintDiff {
public:
    struct SlotChange {
        std::string slot;
        std::string a;
        std::string b;
    };
    struct StructureChange {
        std::string slot;
        unsigned type = 0;
        unsigned handle = 0;
        std::optional<std::string> a;  // absent: no such structure in A
        std::optional<std::string> b;
    };

    FingerprintDiff(const FingerprintReport& a, const FingerprintReport& b, std::string nameA,
                    std::string nameB);

    bool SameFingerprint() const { return fingerprintA == fingerprintB; }

    void PrintText(std::ostream& out) const;
    void PrintJson(std::ostream& out) const;

private:
    std::string nameA;
    std::string nameB;
    std::string fingerprintA;
    std::string fingerprintB;
    std::vector<SlotChange> slots;
    std::vector<StructureChange> structures;
};

}  // namespace tirsel::kvl::agent::driver::inspect
