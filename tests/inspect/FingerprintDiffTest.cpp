#include "inspect/FingerprintDiff.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "CaseName.h"
#include "business/DigestSlots.h"
#include "business/FallbackReading.h"

namespace {

using tirsel::kvl::agent::driver::business::DigestSlots;
using tirsel::kvl::agent::driver::inspect::FingerprintDiff;

struct CauseCase {
    const char* name;
    DigestSlots::Id slot;
    std::string a;
    std::string b;
    bool tableA;
    bool tableB;
    std::string cause;  // a part of the cause given
};

class LikelyCause : public ::testing::TestWithParam<CauseCase> {};

TEST_P(LikelyCause, NamesWhatMostLikelyChanged) {
    const CauseCase& c = GetParam();
    const std::string cause =
        FingerprintDiff::LikelyCause(DigestSlots::Of(c.slot), c.a, c.b, c.tableA, c.tableB);
    EXPECT_NE(cause.find(c.cause), std::string::npos) << cause;
}

using Id = DigestSlots::Id;

INSTANTIATE_TEST_SUITE_P(
    Cases, LikelyCause,
    ::testing::Values(
        CauseCase{"TableAgainstFallback", Id::System, "C02X", "C02X ", true, false,
                  "A's serials come from an SMBIOS table, B's from the fallback tools"},
        CauseCase{"EmptyOnOneSide", Id::System, "C02XK0AAJGH5", "", false, false, "empty in B"},
        CauseCase{"SameSerialOtherCase", Id::Chassis, "c02xk0aajgh5", "C02X-K0AA-JGH5", false,
                  false, "written differently"},
        CauseCase{"PlaceholderAfterRepair", Id::Baseboard, "To Be Filled By O.E.M.", "MB123", true,
                  true, "placeholder in A"},
        CauseCase{"VirtualMachineClone", Id::System, "VMware-56 4d 11", "VMware-56 4d 12", true,
                  true, "virtual machine"},
        CauseCase{"LogicBoardReplaced", Id::Baseboard, "C0212345", "C0267890", false, false,
                  "logic board was replaced"},
        CauseCase{"OneReportLineFillsTwoSlots", Id::Chassis, "C02XK0AAJGH5", "C02YL1BBKHJ6", false,
                  false, "fills the chassis and system slots"},
        CauseCase{"ChipNameOrIdentifier", Id::Processor, "Apple M1 ABCD", "Apple M2 EFGH", false,
                  false, "unique-chip-id"}),
    grellan::testing::CaseName());

using tirsel::kvl::agent::driver::business::FallbackReading;

// An Apple-silicon Mac's reading, with the English report's lines.
FallbackReading Reading() {
    FallbackReading reading;
    reading.processorLines = "      Chip: Apple M1";
    reading.chipId = "QUJDRA==";
    reading.serialLines = "      Serial Number (system): C02XK0AAJGH5";
    return reading;
}

struct CaptureCauseCase {
    const char* name;
    DigestSlots::Id slot;
    void (*change)(FallbackReading& b);
    std::string cause;  // a part of the cause given; empty: LikelyCause judges
};

class CaptureCause : public ::testing::TestWithParam<CaptureCauseCase> {};

TEST_P(CaptureCause, TellsWhatTheSerialsCannot) {
    const CaptureCauseCase& c = GetParam();
    FallbackReading b = Reading();
    c.change(b);
    const std::optional<std::string> cause =
        FingerprintDiff::CaptureCause(DigestSlots::Of(c.slot), Reading(), b);
    if (c.cause.empty()) {
        EXPECT_FALSE(cause) << *cause;
    } else {
        ASSERT_TRUE(cause);
        EXPECT_NE(cause->find(c.cause), std::string::npos) << *cause;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, CaptureCause,
    ::testing::Values(CaptureCauseCase{"NewMachineSerial", Id::System,
                                       [](FallbackReading& b) {
                                           b.serialLines =
                                               "      Serial Number (system): C02YL1BBKHJ6";
                                       },
                                       ""},
                      CaptureCauseCase{"SerialLabelMissing", Id::Chassis,
                                       [](FallbackReading& b) {
                                           b.serialLines = "";
                                           b.platformSerial = "C02YL1BBKHJ6";
                                       },
                                       "B's report had no Serial Number line"},
                      CaptureCauseCase{"NewChipIdentifier", Id::Processor,
                                       [](FallbackReading& b) { b.chipId = "RUZHSA=="; },
                                       "another unique-chip-id with the same chip name"},
                      CaptureCauseCase{
                          "ChipNameWordedAnew", Id::Processor,
                          [](FallbackReading& b) { b.processorLines = "      Chip: Apple M1 (8)"; },
                          "an OS update"},
                      CaptureCauseCase{"ChipLabelMissing", Id::Processor,
                                       [](FallbackReading& b) {
                                           b.processorLines = "";
                                           b.brandString = "Apple M1 CPU";
                                       },
                                       "B's report had no Chip line"},
                      CaptureCauseCase{"NoSerialsInB", Id::System,
                                       [](FallbackReading& b) { b.serialLines = ""; }, ""}),
    grellan::testing::CaseName());

}  // namespace
