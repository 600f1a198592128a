// A host that sets a locale of its own gets the fingerprint a host in the
// "C" locale gets: the library classifies white space the "C" way, whatever
// std::locale::global or setlocale the host called. glibc's own locales count
// neither 0x85 nor 0xA0 as white space (macOS's UTF-8 and Latin-1 locales
// count both), so the test compiles one that does with localedef.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "CaseName.h"
#include "FakeMacTools.h"
#include "MemoryImage.h"
#include "TempDir.h"

namespace {

using grellan::testing::FakeMacTools;
using grellan::testing::RunShell;
using grellan::testing::TempDir;

const char kLocale[] = "grellan_spaces";

// A single-byte locale whose white space is the six ASCII bytes, 0x85 (NEL)
// and 0xA0 (no-break space), compiled into its own directory for LOCPATH.
class SpacesLocale {
public:
    SpacesLocale() {
        std::string charmap =
            "<escape_char> /\n<code_set_name> GRELLAN-SPACES\n<mb_cur_max> 1\n<mb_cur_min> 1\n"
            "CHARMAP\n";
        char line[32];
        for (int byte = 0; byte < 256; ++byte) {
            std::snprintf(line, sizeof line, "<U%04X> /x%02x\n", byte, byte);
            charmap += line;
        }
        charmap += "END CHARMAP\n";
        const std::string source =
            "LC_CTYPE\n"
            "upper <U0041>..<U005A>\nlower <U0061>..<U007A>\n"
            "alpha <U0041>..<U005A>;<U0061>..<U007A>\ndigit <U0030>..<U0039>\n"
            "space <U0009>..<U000D>;<U0020>;<U0085>;<U00A0>\nblank <U0009>;<U0020>\n"
            "cntrl <U0000>..<U001F>;<U007F>\n"
            "punct <U0021>..<U002F>;<U003A>..<U0040>;<U005B>..<U0060>;<U007B>..<U007E>\n"
            "END LC_CTYPE\n";
        const std::string compile = "localedef -c -i '" + dir.Write("source", source) + "' -f '" +
                                    dir.Write("charmap", charmap) + "' '" + Path() + "/" + kLocale +
                                    "' >/dev/null 2>&1";
        RunShell(compile);  // status 1: it warns of the categories left undefined
    }

    const std::string& Path() const { return dir.Path(); }

    // What a host that loads the locale needs besides LOCPATH: glibc 2.36's
    // newlocale keeps the list of locale directories it builds from LOCPATH
    // (string/argz-addsep.c), a leak of glibc's own that LeakSanitizer would
    // end the host for in the sanitizer builds.
    std::string HostEnvironment() const {
        return "LOCPATH='" + Path() + "' LSAN_OPTIONS=suppressions='" +
               dir.Write("glibc.supp", "leak:__argz_add_sep\n") + "' ";
    }

    // Whether the compiled locale counts 0x85 and 0xA0 as white space: tr
    // drops them then, in a process of its own.
    bool CountsBothAsSpace() const {
        return RunShell("printf '\\205\\240x' | LOCPATH='" + Path() + "' LC_ALL=" + kLocale +
                        " tr -d '[:space:]'")
                   .output == "x";
    }

private:
    TempDir dir;
};

struct LocaleCase {
    const char* name;
    FakeMacTools::Machine machine;
    std::string digestInput;  // chassis, system, baseboard (none here), processor
};

FakeMacTools::Machine With(std::string serial, std::string processorName = "Apple M1",
                           std::string chipIdBase64 = "QUJDRA==") {
    FakeMacTools::Machine machine;
    machine.serial = std::move(serial);
    machine.processorName = std::move(processorName);
    machine.chipIdBase64 = std::move(chipIdBase64);
    return machine;
}

class HostLocale : public ::testing::TestWithParam<LocaleCase> {};

TEST_P(HostLocale, GivesTheFingerprintOfAHostInTheCLocale) {
    static const SpacesLocale spaces;
    ASSERT_TRUE(spaces.CountsBothAsSpace()) << "localedef failed";
    const FakeMacTools tools(GetParam().machine);
    const TempDir memory;
    // LC_ALL=C for the tools: GNU grep would call a line with 0xA0 binary in UTF-8.
    const std::string host = "LC_ALL=C " + spaces.HostEnvironment() + "GRELLAN_TEST_SEARCH_PATH='" +
                             tools.Directory() + ":/usr/bin:/bin' GRELLAN_TEST_MEMORY_DEVICE='" +
                             grellan::testing::MemoryImage().Save(memory) + "' '" +
                             GRELLAN_LOCALE_HOST + "' ";
    const std::string library = std::string(" '") + GRELLAN_TESTPATH_LIBRARY + "'";
    const std::string expected = grellan::testing::ReferenceMd5(GetParam().digestInput) + "\n";

    EXPECT_EQ(RunShell(host + "default" + library).output, expected);
    EXPECT_EQ(RunShell(host + kLocale + library).output, expected);
}

const std::string kSerial = "C02XK0AAJGH5";

INSTANTIATE_TEST_SUITE_P(
    Hosts, HostLocale,
    ::testing::Values(LocaleCase{"SerialEndingInNoBreakSpace", With(kSerial + "\xA0"),
                                 kSerial + "\xA0" + kSerial + "\xA0" + "Apple M1 ABCD"},
                      LocaleCase{"SerialBeginningWithNextLine", With("\x85" + kSerial),
                                 "\x85" + kSerial + "\x85" + kSerial + "Apple M1 ABCD"},
                      LocaleCase{"ChipNameEndingInNoBreakSpace", With(kSerial, "Apple M1\xA0"),
                                 kSerial + kSerial + "Apple M1\xA0 ABCD"},
                      // The chip identifier's Base64 text is trimmed before it is decoded;
                      // a byte outside the alphabet ends the decoding.
                      LocaleCase{"ChipIdBeginningWithNoBreakSpace",
                                 With(kSerial, "Apple M1", "\xA0QUJDRA=="),
                                 kSerial + kSerial + "Apple M1 "}),
    grellan::testing::CaseName());

}  // namespace
