#include <gtest/gtest.h>

#include <filesystem>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "CaseName.h"
#include "FakeMacTools.h"
#include "Inspector.h"
#include "MemoryImage.h"
#include "RealCaptures.h"
#include "TempDir.h"

namespace {

using grellan::testing::FakeMacTools;
using grellan::testing::InspectCommand;
using grellan::testing::ProcessResult;
using grellan::testing::ReadFile;
using grellan::testing::RunShell;
using grellan::testing::TempDir;

// The capture the test build of the inspector prints on the fallback path
// (a blank memory image: no table) when system_profiler prints `report`.
std::string FallbackCapture(const TempDir& dir, const std::string& report) {
    FakeMacTools::Machine machine;
    machine.report = report;
    const FakeMacTools tools(machine);
    const ProcessResult printed =
        RunShell("GRELLAN_TEST_SEARCH_PATH='" + tools.Directory() + ":/usr/bin:/bin' " +
                 "GRELLAN_TEST_MEMORY_DEVICE='" + grellan::testing::MemoryImage().Save(dir) +
                 "' '" + GRELLAN_BUILD_DIR + "/testpath/grellaninspect' --snapshot");
    return printed.output;
}

// What the inspector is asked to print a snapshot of: every example and
// every real capture (a table it cannot read through its 64-bit entry point
// from a snapshot of that table instead), and the fallback's captures over
// the real reports and the hand-written Intel one.
std::vector<std::string> Sources(const TempDir& dir) {
    std::vector<std::string> sources;
    const std::string examples = std::string(GRELLAN_SOURCE_DIR) + "/examples";
    for (const auto& entry : std::filesystem::directory_iterator(examples)) {
        if (entry.path().extension() == ".snapshot") {
            sources.push_back("--from-snapshot '" + entry.path().string() + "'");
        }
    }
    for (const std::string& file : grellan::testing::RealTableFiles()) {
        const std::string dump = ReadFile(file);
        sources.push_back(dump.rfind("_SM3_", 0) == 0
                              ? "--from-snapshot '" +
                                    dir.Write(std::filesystem::path(file).filename().string(),
                                              grellan::testing::SnapshotOfSm3Dump(dump)) +
                                    "'"
                              : "--from-dmi '" + file + "'");
    }
    std::vector<std::string> reports = {std::string()};  // FakeMacTools' own, an Intel Mac's
    for (const std::string& file : grellan::testing::RealReportFiles()) {
        reports.push_back(ReadFile(file));
    }
    for (std::size_t i = 0; i < reports.size(); ++i) {
        const std::string name = "capture-" + std::to_string(i);
        sources.push_back("--from-snapshot '" + dir.Write(name, FallbackCapture(dir, reports[i])) +
                          "'");
    }
    return sources;
}

// The fingerprint in a text or JSON report.
std::string FingerprintIn(const std::string& output) {
    if (output.rfind("{", 0) == 0) {
        return nlohmann::json::parse(output).at("fingerprint").get<std::string>();
    }
    const std::string label = "\nfingerprint: ";
    const std::size_t at = output.find(label);
    return at == std::string::npos ? "" : output.substr(at + label.size(), 32);
}

// The Base64 line under the "snapshot:" label of a text report.
std::string Block(const std::string& printed) {
    const std::string label = "\nsnapshot:\n";
    const std::size_t at = printed.find(label);
    if (at == std::string::npos) {
        return "";
    }
    const std::size_t start = at + label.size();
    return printed.substr(start, printed.find('\n', start) - start);
}

std::string Wrapped(const std::string& text, std::size_t width, const std::string& lineEnd,
                    const std::string& indent) {
    std::string wrapped;
    for (std::size_t i = 0; i < text.size(); i += width) {
        wrapped += indent + text.substr(i, width) + lineEnd;
    }
    return wrapped;
}

std::string Quoted(const std::string& text, const std::string& marker) {
    std::string quoted;
    std::size_t start = 0;
    while (start < text.size()) {
        const std::size_t end = text.find('\n', start);
        quoted += marker + text.substr(start, end - start) + "\n";
        start = end == std::string::npos ? text.size() : end + 1;
    }
    return quoted;
}

// How a snapshot reaches support: what the inspector is asked to print and
// what of its output is kept, and how.
struct Form {
    const char* name;
    const char* print;  // the options it is printed with
    std::string (*keep)(const std::string& printed);
    bool piped = false;  // straight from one inspector into the other
};

const Form kForms[] = {
    {"SavedAsPrinted", "--snapshot", [](const std::string& p) { return p; }},
    {"Piped", "--snapshot", [](const std::string& p) { return p; }, true},
    {"LabelAndBlock", "--snapshot",
     [](const std::string& p) { return "snapshot:\n" + Block(p) + "\n"; }},
    {"WrappedCrlfInMail", "--snapshot",
     [](const std::string& p) {
         return "Hello,\r\nhere it is:\r\n\r\nsnapshot:\r\n" +
                Wrapped(Block(p), 64, "\r\n", "    ") + "\r\n-- \r\nSupport\r\n";
     }},
    {"BareWrappedNarrow", "--snapshot",
     [](const std::string& p) { return Wrapped(Block(p), 7, "\n", ""); }},
    {"MailQuoted", "--snapshot", [](const std::string& p) { return Quoted(p, "> "); }},
    {"MailQuotedTwice", "--snapshot", [](const std::string& p) { return Quoted(p, ">> "); }},
    {"MailQuotedNestedAndWrapped", "--snapshot",
     [](const std::string& p) {
         return Quoted("snapshot:\n" + Wrapped(Block(p), 76, "\n", ""), "> > ");
     }},
    {"JsonReport", "--json --snapshot", [](const std::string& p) { return p; }},
};

class SnapshotRoundTrip : public ::testing::TestWithParam<Form> {};

// Printed, kept as the form says, and read back by --from-snapshot and by
// --diff: the same fingerprint and the same snapshot text, for every source.
TEST_P(SnapshotRoundTrip, GivesTheSameFingerprintForEverySource) {
    const Form& form = GetParam();
    const TempDir dir;
    const std::vector<std::string> sources = Sources(dir);
    ASSERT_GE(sources.size(), 2U);
    for (const std::string& source : sources) {
        SCOPED_TRACE(source);
        const std::string print = InspectCommand(std::string(form.print) + " " + source);
        const ProcessResult printed = RunShell(print);
        ASSERT_EQ(printed.status, 0) << printed.output;
        const std::string fingerprint = FingerprintIn(printed.output);
        ASSERT_EQ(fingerprint.size(), 32U) << printed.output;
        const std::string original = dir.Write("original", printed.output);
        const std::string kept = dir.Write("kept", form.keep(printed.output));
        const std::string input = form.piped ? print + " | " : "< '" + kept + "' ";

        const ProcessResult replayed =
            RunShell(input + InspectCommand("--snapshot --from-snapshot - 2>&1"));
        EXPECT_EQ(replayed.status, 0) << replayed.output;
        EXPECT_EQ(FingerprintIn(replayed.output), fingerprint) << replayed.output;
        const std::string block =
            form.print == std::string("--snapshot")
                ? Block(printed.output)
                : nlohmann::json::parse(printed.output).at("snapshot").get<std::string>();
        EXPECT_EQ(Block(replayed.output), block);

        const ProcessResult compared =
            RunShell(input + InspectCommand("--diff '" + original + "' - 2>&1"));
        EXPECT_EQ(compared.status, 0) << compared.output;
    }
}

INSTANTIATE_TEST_SUITE_P(Forms, SnapshotRoundTrip, ::testing::ValuesIn(kForms),
                         grellan::testing::CaseName());

}  // namespace
