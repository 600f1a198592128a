#pragma once

#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

#include "business/DigestSlots.h"
#include "business/FallbackReading.h"
#include "inspect/FingerprintReport.h"

namespace tirsel::kvl::agent::driver::inspect {

// What differs between two explained captures: the digest slots, each with
// its likely cause, the serials of the structures (matched by type and
// handle) and the fingerprint.
class FingerprintDiff {
public:
    struct SlotChange {
        std::string slot;
        std::string a;
        std::string b;
        std::string cause;
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

    // Why the serials of `slot` most likely differ, judged from the two serials
    // and whether each side's came from a table (else the fallback tools).
    static std::string LikelyCause(const business::DigestSlots::Slot& slot, const std::string& a,
                                   const std::string& b, bool tableA, bool tableB);
    // The same judged from two fallback captures, which tell more than the
    // serials: where each report value came from, and the processor's name
    // apart from its chip identifier. Nothing where they tell no more (or
    // either gives no serials); LikelyCause then judges.
    static std::optional<std::string> CaptureCause(const business::DigestSlots::Slot& slot,
                                                   const business::FallbackReading& a,
                                                   const business::FallbackReading& b);

    bool SameFingerprint() const { return fingerprintA == fingerprintB; }

    void PrintText(std::ostream& out) const;
    void PrintJson(std::ostream& out) const;

private:
    std::string nameA;
    std::string nameB;
    std::string sourceA;
    std::string sourceB;
    std::string fingerprintA;
    std::string fingerprintB;
    std::vector<SlotChange> slots;
    std::vector<StructureChange> structures;
};

}  // namespace tirsel::kvl::agent::driver::inspect
