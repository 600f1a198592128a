#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "TempDir.h"
#include "grellan/grellan.h"

namespace {

using grellan::testing::ProcessResult;
using grellan::testing::RunShell;
using grellan::testing::TempDir;

std::string Quoted(const std::string& text) {
    return "'" + text + "'";
}

// A clean install to a temporary prefix: the example host builds against it
// through find_package(grellan) and through pkg-config, loads the installed
// library by the path the package gives, and prints what the installed probe
// prints; man renders both installed pages.
class InstalledPackage : public ::testing::Test {
protected:
    void SetUp() override {
        const ProcessResult install =
            RunShell(Quoted(GRELLAN_CMAKE_COMMAND) + " --install " + Quoted(GRELLAN_BUILD_DIR) +
                     " --prefix " + Quoted(prefix.Path()) + " 2>&1");
        ASSERT_EQ(install.status, 0) << install.output;
    }

    // What a host prints: the header's version, then the probe's line.
    std::string Expected() {
        const ProcessResult probe =
            RunShell(Quoted(prefix.Path() + "/bin/grellanprobe") + " 2>/dev/null");
        // The installed library finds its tools only in the fixed system
        // directories, so on this machine it may well have no fingerprint.
        EXPECT_TRUE(probe.status == 0 || probe.status == 3) << probe.output;
        if (probe.status != 0) {
            return std::string("libgrellan ") + GRELLAN_VERSION_STRING + "\n";
        }
        return std::string("libgrellan ") + GRELLAN_VERSION_STRING + "\n" + probe.output;
    }

    const std::string example = std::string(GRELLAN_SOURCE_DIR) + "/examples/host";
    TempDir prefix;
    TempDir work;
};

TEST_F(InstalledPackage, ExampleHostBuildsThroughFindPackage) {
    const std::string build = work.Path() + "/build";
    const ProcessResult configure = RunShell(
        Quoted(GRELLAN_CMAKE_COMMAND) + " -S " + Quoted(example) + " -B " + Quoted(build) + " -G " +
        Quoted(GRELLAN_CMAKE_GENERATOR) + " -DCMAKE_C_COMPILER=" + Quoted(GRELLAN_C_COMPILER) +
        " -DCMAKE_C_FLAGS=" + Quoted(GRELLAN_SANITIZE_FLAGS) +
        " -DCMAKE_PREFIX_PATH=" + Quoted(prefix.Path()) + " 2>&1 && " +
        Quoted(GRELLAN_CMAKE_COMMAND) + " --build " + Quoted(build) + " 2>&1");
    ASSERT_EQ(configure.status, 0) << configure.output;
    const ProcessResult host = RunShell(Quoted(build + "/grellan_host") + " 2>/dev/null");
    EXPECT_EQ(host.output, Expected());
}

TEST_F(InstalledPackage, ExampleHostBuildsThroughPkgConfig) {
    const std::string pkg =
        "PKG_CONFIG_PATH=" + Quoted(prefix.Path() + "/" + GRELLAN_INSTALL_LIBDIR + "/pkgconfig") +
        " pkg-config ";
    const ProcessResult version = RunShell(pkg + "--modversion grellan");
    EXPECT_EQ(version.output, std::string(GRELLAN_VERSION_STRING) + "\n");
    const ProcessResult build = RunShell(
        Quoted(GRELLAN_C_COMPILER) + " -std=c99 -Wall -Wextra -Werror " + GRELLAN_SANITIZE_FLAGS +
        " $(" + pkg + "--cflags grellan) " + "-DGRELLAN_LIBRARY_PATH=\"\\\"$(" + pkg +
        "--variable=library grellan)\\\"\" " + Quoted(example + "/host.c") + " -o " +
        Quoted(work.Path() + "/host") + " -ldl 2>&1");
    ASSERT_EQ(build.status, 0) << build.output;
    const ProcessResult host = RunShell(Quoted(work.Path() + "/host") + " 2>/dev/null");
    EXPECT_EQ(host.output, Expected());
}

TEST_F(InstalledPackage, ManRendersBothPagesAndTheLicenseIsThere) {
    EXPECT_TRUE(std::filesystem::exists(prefix.Path() + "/share/doc/grellan/LICENSE"));
    if (!GRELLAN_HAVE_MANPAGES) {
        GTEST_SKIP() << "built without scdoc: no man pages";
    }
    for (const std::string page : {"grellanprobe", "grellaninspect"}) {
        const std::string file =
            prefix.Path() + "/" + GRELLAN_INSTALL_MANDIR + "/man1/" + page + ".1";
        // A page named by a path (it holds a slash) is read from that file by
        // man-db and by a Mac's man alike (man_find_and_display in man.sh of
        // Apple's man project).
        const ProcessResult man = RunShell("MANWIDTH=80 man " + Quoted(file) + " 2>/dev/null");
        EXPECT_EQ(man.status, 0) << page;
        EXPECT_EQ(man.output.rfind(page + "(1)", 0), 0U) << man.output;
        EXPECT_NE(man.output.find("EXIT STATUS"), std::string::npos) << man.output;
    }
}

}  // namespace
