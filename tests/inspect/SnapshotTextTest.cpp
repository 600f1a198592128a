#include "inspect/SnapshotText.h"

#include <gtest/gtest.h>

#include <string>

#include "CaseName.h"
#include "inspect/BadInput.h"

namespace {

using tirsel::kvl::agent::driver::inspect::BadInput;
using tirsel::kvl::agent::driver::inspect::SnapshotText;

// Where the snapshot ends and what is not one, past what the round trip of
// the inspector's own output shows.
struct FindCase {
    const char* name;
    std::string text;
    std::string block;  // the Base64 found; empty: refused
    std::string reason;
};

class SnapshotTextFind : public ::testing::TestWithParam<FindCase> {};

TEST_P(SnapshotTextFind, FindsTheBlockOrSaysWhyNot) {
    const FindCase& c = GetParam();
    if (!c.block.empty()) {
        EXPECT_EQ(SnapshotText::Find(c.text, "ticket"), c.block);
        return;
    }
    try {
        SnapshotText::Find(c.text, "ticket");
        ADD_FAILURE() << "found a snapshot";
    } catch (const BadInput& e) {
        EXPECT_NE(std::string(e.what()).find(c.reason), std::string::npos) << e.what();
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SnapshotTextFind,
    ::testing::Values(
        FindCase{"SignatureAfterABlankLine", "snapshot:\nQUJD\nREVG\n\nThanks\n", "QUJDREVG", ""},
        FindCase{"ProseRightAfterThePadding", "QUJD\nRA==\nBob\n", "QUJDRA==", ""},
        FindCase{"LabelAndTextOnOneLine", "snapshot: QUJD RA==\n", "QUJDRA==", ""},
        FindCase{"FirstLabelCounts", "snapshot:\nQUJD\n\nsnapshot:\nREVG\n", "QUJD", ""},
        FindCase{"SecondPaddingCharacterWrapped", "QUJDR\nA=\n=\n", "QUJDRA==", ""},
        FindCase{"QuoteMarkersWithBlanksBetween", " >  > QUJD\r\n>>RA==\r\n", "QUJDRA==", ""},
        FindCase{"ProseUnderTheLabel", "snapshot:\n(see the attachment)\n", "", "is not Base64"},
        FindCase{"ProseWithoutLabel", "Hello,\nit changed.\n", "", "no \"snapshot:\" line"},
        FindCase{"TextReportWithoutSnapshot", "source:      fallback tools\nsteps:\n", "",
                 "print the report with --snapshot"},
        FindCase{"PaddingInTheMiddle", "QU=JD\n", "", "not Base64"}),
    grellan::testing::CaseName());

}  // namespace
