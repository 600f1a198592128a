// A user's language changes the labels of system_profiler's report, never the
// fingerprint: where the English label is missing, the value comes from a
// source without one; an English report gives what it always gave.
//
// The localized reports keep the shapes of real ones quoted in public
// material (the values here are made up): German "Seriennummer (System)" and
// "Prozessortyp" with a decimal comma, from a Mac mini (Macmini7,1) report;
// Japanese "シリアル番号（システム）: " with full-width parentheses and an
// ASCII colon, from a MacBookPro14,1 inventory note, and "チップ: Apple M3"
// from Apple-silicon set-up notes; Chinese "序列号（系统）：" with a full-width
// colon (U+FF1A) and a tab, from MacBookPro14,1 and MacBookAir7,2 reports
// copied from System Information, and "芯片" for the chip; French "Puce" for
// the chip (French About This Mac guides) with the blank French typography
// puts before a colon. English: a MacBookPro18,3 report quoted in
// mondoohq/mql#1380.
#include "business/ReportLine.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "CaseName.h"
#include "CommandSettingsOverride.h"
#include "FakeMacTools.h"
#include "RegistryStandIn.h"
#include "SysctlStandIn.h"
#include "business/CommandFailed.h"
#include "business/HwHashCalculator.h"
#include "business/SerialComputation.h"

namespace {

using grellan::testing::FakeMacTools;
using tirsel::kvl::agent::driver::business::CommandVerdict;
using tirsel::kvl::agent::driver::business::HwHashCalculator;
using tirsel::kvl::agent::driver::business::ReportLine;
using tirsel::kvl::agent::driver::business::SerialComputation;
using tirsel::kvl::agent::driver::business::ValueSource;
namespace platform = tirsel::kvl::agent::driver::platform;
namespace standin = tirsel::kvl::agent::driver::platform::standin;

const std::string kSerial = "C02XK0AAJGH5";

// A report of the machine: `overview` is the lines between the header and the
// serial's, `serialLine` the serial's label and separator.
std::string Report(const std::string& header, const std::string& overview,
                   const std::string& serialLine) {
    return header + ":\n\n    " + header + ":\n\n" + overview + "      " + serialLine + kSerial +
           "\n      Hardware UUID: 9F2A8C31-0B7E-4D5A-9C61-2E4F7A1B3C5D\n\n";
}

const std::string kEnglish =
    Report("Hardware",
           "      Model Name: MacBook Pro\n"
           "      Model Identifier: MacBookPro18,3\n"
           "      Chip: Apple M1\n"
           "      Total Number of Cores: 8 (4 performance and 4 efficiency)\n"
           "      Memory: 16 GB\n",
           "Serial Number (system): ");

struct LanguageCase {
    const char* name;
    std::string report;
    std::string brand;  // machdep.cpu.brand_string
    ValueSource serialSource;
    ValueSource nameSource;
};

// No table; the fake tools print the report, the stand-ins hold the rest.
class FakeMachine : public ::testing::Test {
protected:
    standin::ScopedRegistry registry;
    standin::ScopedSysctlValues sysctl;
    FakeMacTools tools;
    platform::ScopedCommandSettings commands{tools.Directory()};
};

class LocalizedReport : public FakeMachine, public ::testing::WithParamInterface<LanguageCase> {};

TEST_P(LocalizedReport, GivesTheEnglishFingerprint) {
    standin::SetNonDataProperty("IOPlatformExpertDevice", "IOPlatformSerialNumber", kSerial);
    standin::SetSysctlString("machdep.cpu.brand_string", GetParam().brand);
    tools.SetHardwareReport(kEnglish);
    const std::string english =
        HwHashCalculator::HashText(SerialComputation::OfFallbackTools().Serials());
    EXPECT_EQ(english, grellan::testing::ReferenceMd5(kSerial + kSerial + "Apple M1 ABCD"));

    tools.SetHardwareReport(GetParam().report);
    const SerialComputation computation = SerialComputation::OfFallbackTools();
    EXPECT_EQ(HwHashCalculator::HashText(computation.Serials()), english);
    ASSERT_EQ(computation.valueOrigins.size(), 3U);
    EXPECT_EQ(computation.valueOrigins[0].source, GetParam().nameSource);    // processor
    EXPECT_EQ(computation.valueOrigins[1].source, GetParam().serialSource);  // chassis
    EXPECT_EQ(computation.valueOrigins[2].source, GetParam().serialSource);  // system
}

INSTANTIATE_TEST_SUITE_P(
    Languages, LocalizedReport,
    ::testing::Values(LanguageCase{"English", kEnglish, "Apple M1", ValueSource::ReportLine,
                                   ValueSource::ReportLine},
                      // The label of the chip may stay "Chip" in German: then its line counts.
                      LanguageCase{"German",
                                   Report("Hardware",
                                          "      Modellname: MacBook Pro\n"
                                          "      Modell-Identifizierung: MacBookPro18,3\n"
                                          "      Chip: Apple M1\n"
                                          "      Speicher: 16 GB\n",
                                          "Seriennummer (System): "),
                                   "Apple M1", ValueSource::Registry, ValueSource::ReportLine},
                      LanguageCase{"Japanese",
                                   Report("ハードウェア",
                                          "      機種名: MacBook Pro\n"
                                          "      チップ: Apple M1\n"
                                          "      メモリ: 16 GB\n",
                                          "シリアル番号（システム）: "),
                                   "Apple M1", ValueSource::Registry, ValueSource::BrandString},
                      LanguageCase{"Chinese",
                                   Report("硬件",
                                          "      型号名称：\tMacBook Pro\n"
                                          "      芯片：\tApple M1\n"
                                          "      内存：\t16 GB\n",
                                          "序列号（系统）：\t"),
                                   "Apple M1", ValueSource::Registry, ValueSource::BrandString},
                      LanguageCase{"French",
                                   Report("Matériel",
                                          "      Nom du modèle : MacBook Pro\n"
                                          "      Puce : Apple M1\n"
                                          "      Mémoire : 16 Go\n",
                                          "Numéro de série (système) : "),
                                   "Apple M1", ValueSource::Registry, ValueSource::BrandString},
                      // A line grep matches by chance ("chip" inside another word) is no
                      // Chip line: without the real one, the brand string.
                      LanguageCase{"ChipInsideAnotherWord",
                                   Report("Hardware",
                                          "      Modellname: MacBook Pro\n"
                                          "      Chipsatz-Modell: Apple M1\n"
                                          "      Speicher: 16 GB\n",
                                          "Seriennummer (System): "),
                                   "Apple M1", ValueSource::Registry, ValueSource::BrandString},
                      // The English label with a full-width colon has no field to read.
                      LanguageCase{
                          "FullWidthColonAfterEnglishLabel",
                          Report("Hardware", "      Chip：Apple M1\n", "Serial Number (system): "),
                          "Apple M1", ValueSource::ReportLine, ValueSource::BrandString}),
    grellan::testing::CaseName());

// Without a labelled line and without the value that stands in for it, there
// is no fingerprint: an Intel Mac's report in another language (its processor
// name, "Dual-Core Intel Core i5", is no brand string), an empty registry.
struct MissingCase {
    const char* name;
    std::string report;
    std::optional<std::string> registrySerial;
    std::string brand;
    CommandVerdict::Kind verdict;  // why it fails
};

class NoStandIn : public FakeMachine, public ::testing::WithParamInterface<MissingCase> {};

TEST_P(NoStandIn, GivesNoFingerprint) {
    const MissingCase& c = GetParam();
    if (c.registrySerial) {
        standin::SetNonDataProperty("IOPlatformExpertDevice", "IOPlatformSerialNumber",
                                    *c.registrySerial);
    }
    standin::SetSysctlString("machdep.cpu.brand_string", c.brand);
    tools.SetHardwareReport(c.report);
    const SerialComputation computation = SerialComputation::OfFallbackTools();
    EXPECT_FALSE(computation.serials);
    ASSERT_TRUE(computation.failedCommand);
    EXPECT_EQ(computation.failedCommand->verdict.kind, c.verdict);
}

constexpr auto kNoChip = CommandVerdict::Kind::NoChipName;
constexpr auto kNoSerial = CommandVerdict::Kind::NoMachineSerial;

const std::string kGermanIntel = Report("Hardware",
                                        "      Modellname: Mac mini\n"
                                        "      Prozessortyp: Dual-Core Intel Core i5\n"
                                        "      Prozessorgeschwindigkeit: 1,4 GHz\n",
                                        "Seriennummer (System): ");

INSTANTIATE_TEST_SUITE_P(
    Machines, NoStandIn,
    ::testing::Values(
        MissingCase{"GermanIntel", kGermanIntel, kSerial,
                    "Intel(R) Core(TM) i5-4260U CPU @ 1.40GHz", kNoChip},
        MissingCase{"XnuMadeUpBrand", kGermanIntel, kSerial, "Apple processor", kNoChip},
        // What an x86 program reads through CPUID under
        // Rosetta; sysctl gives the chip's own name.
        MissingCase{"RosettaCpuidBrand", kGermanIntel, kSerial, "VirtualApple @ 2.50GHz", kNoChip},
        MissingCase{"NoRegistrySerial",
                    Report("Hardware", "      Chip: Apple M1\n", "Seriennummer: "), std::nullopt,
                    "Apple M1", kNoSerial},
        MissingCase{"RegistrySerialOverItsBound",
                    Report("Hardware", "      Chip: Apple M1\n", "Seriennummer: "),
                    std::string(257, 'S'), "Apple M1", kNoSerial},
        MissingCase{"BrandOverItsBound", kGermanIntel, kSerial, "Apple " + std::string(251, 'M'),
                    kNoChip}),
    grellan::testing::CaseName());

// Only the lines with the English label count, as they came.
struct LinesCase {
    const char* name;
    std::string matched;
    ReportLine::Label label;
    std::string lines;
};

class LabelledLines : public ::testing::TestWithParam<LinesCase> {};

TEST_P(LabelledLines, KeepOnlyTheEnglishLabel) {
    EXPECT_EQ(ReportLine::LabelledLines(GetParam().matched, GetParam().label), GetParam().lines);
}

const auto kSerialLabel = ReportLine::Label::MachineSerial;
const auto kNameLabel = ReportLine::Label::ProcessorName;

INSTANTIATE_TEST_SUITE_P(
    Outputs, LabelledLines,
    ::testing::Values(
        // A Mac Pro's report has two; the field still runs across both, as it did.
        LinesCase{"TwoSerialLinesKept",
                  "      Serial Number (system): A\n      Serial Number (processor tray): B",
                  kSerialLabel,
                  "      Serial Number (system): A\n      Serial Number (processor tray): B"},
        LinesCase{"AnyCaseAndSpacing", "  PROCESSOR\tname : X\n", kNameLabel,
                  "  PROCESSOR\tname : X\n"},
        LinesCase{"ChanceMatchDropped", "      Chip: Apple M1\n      Chipsatz-Modell: X",
                  kNameLabel, "      Chip: Apple M1"},
        LinesCase{"LabelInsideAValueIsNoLabel", "      Modell: Serial Number (system)",
                  kSerialLabel, ""}),
    grellan::testing::CaseName());

}  // namespace
