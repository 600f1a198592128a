// What only a real Mac can show about the user's language (CTest label mac):
// the sources without a label give what the English report's lines give, so a
// report in another language gives the English fingerprint; and a host in
// the App Sandbox gets that fingerprint or none, never another one.
// scripts/mac-language-check.sh switches the runner's language itself (CI
// only) and runs the probe under German and Japanese.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <optional>
#include <string>

#include "HardwareHash.h"
#include "TempDir.h"
#include "business/LabelFreeValues.h"
#include "business/ReportLine.h"
#include "business/SerialLoader.h"

namespace {

namespace fs = std::filesystem;
using grellan::testing::ProcessResult;
using grellan::testing::RunShell;
using grellan::testing::TempDir;
using tirsel::kvl::agent::driver::business::LabelFreeValues;
using tirsel::kvl::agent::driver::business::ReportLine;
using tirsel::kvl::agent::driver::business::SerialLoader;

std::string Quote(const std::string& text) {
    return "'" + text + "'";
}

std::string Bin(const std::string& file) {
    return std::string(GRELLAN_BUILD_DIR) + "/bin/" + file;
}

// The value field of the report's line as the library's command reads it.
std::string ReportField(const std::string& pattern) {
    return SerialLoader().ProcessComand("system_profiler SPHardwareDataType | grep -E -i \"" +
                                        pattern + "\"");
}

bool IsAppleSilicon() {
    return RunShell("sysctl -n hw.optional.arm64 2>/dev/null").output == "1\n";
}

TEST(MacLanguage, RegistrySerialIsTheEnglishReportsSerial) {
    const std::string english = ReportField("Serial\\sNumber");
    ASSERT_FALSE(english.empty()) << "the runner's report is not in English";
    const std::optional<std::string> registry = LabelFreeValues::PlatformSerial();
    std::printf("Serial Number (system): %s; IOPlatformSerialNumber: %s\n", english.c_str(),
                registry ? registry->c_str() : "(none)");
    EXPECT_EQ(registry, english);
}

TEST(MacLanguage, BrandStringIsTheEnglishReportsChipOnAppleSilicon) {
    const std::string english = ReportField("Chip|Processor\\sName");
    ASSERT_FALSE(english.empty()) << "the runner's report is not in English";
    const std::string brand = RunShell("sysctl -n machdep.cpu.brand_string").output;
    std::printf("Chip or Processor Name: %s; machdep.cpu.brand_string: %s", english.c_str(),
                brand.c_str());
    // What the library takes for the chip where the report has no Chip line.
    const std::optional<ReportLine::Value> standIn = ReportLine::Pick(
        std::string(), LabelFreeValues::BrandString(), ReportLine::Label::ProcessorName);
    if (IsAppleSilicon()) {
        ASSERT_TRUE(standIn);
        EXPECT_EQ(standIn->text, english);
    } else {
        // An Intel report's processor name is no brand string: no stand-in.
        EXPECT_FALSE(standIn);
    }
}

// A host as a Mac App Store app is one: signed (ad hoc here) with the App
// Sandbox entitlement, the library in its bundle, where the sandbox lets it
// read. Its children, the tools, inherit the sandbox. It gets this Mac's
// fingerprint or, where the sandbox refuses a tool or a registry read, none;
// a sandboxed copy of grellaninspect then says what was refused.
TEST(MacLanguage, SandboxedHostGetsTheFingerprintOrNone) {
    if (RunShell("command -v codesign").status != 0) {
        GTEST_SKIP() << "no codesign";
    }
    const std::string expected = grellan::testing::HardwareHash();
    const TempDir dir;
    const std::string programs = dir.Path() + "/Host.app/Contents/MacOS/";
    const std::string library = dir.Path() + "/Host.app/Contents/Frameworks/libgrellan.dylib";
    fs::create_directories(programs);
    fs::create_directories(fs::path(library).parent_path());
    fs::copy_file(Bin("libgrellan.dylib"), library);
    fs::copy_file(Bin("grellaninspect"), programs + "grellaninspect");
    fs::copy_file(GRELLAN_MAC_HOST, programs + "mac_host");
    const std::string entitlements =
        dir.Write("sandbox.plist",
                  "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\"><dict>"
                  "<key>com.apple.security.app-sandbox</key><true/></dict></plist>\n");
    const ProcessResult sign = RunShell("codesign -f -s - " + Quote(library) + " 2>&1 && cd " +
                                        Quote(programs) + " && codesign -f -s - --entitlements " +
                                        Quote(entitlements) + " mac_host grellaninspect 2>&1");
    ASSERT_EQ(sign.status, 0) << sign.output;

    const std::string errors = dir.Path() + "/errors";
    const ProcessResult run =
        RunShell(Quote(programs + "mac_host") + " plain " + Quote(library) + " 2>" + Quote(errors));
    if (run.status == 1) {
        GTEST_SKIP() << "the sandbox refused to load the library: "
                     << grellan::testing::ReadFile(errors);
    }
    ASSERT_EQ(run.status, 0) << run.output;
    if (run.output == "\n") {
        const ProcessResult why = RunShell(Quote(programs + "grellaninspect") + " 2>&1");
        std::printf("the sandboxed host got no fingerprint; the sandboxed inspector says:\n%s",
                    why.output.c_str());
        return;
    }
    std::printf("the sandboxed host got the fingerprint\n");
    EXPECT_EQ(run.output, expected + "\n");
}

}  // namespace
