#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "CaseName.h"
#include "inspect/WeakSerials.h"

namespace {

using tirsel::kvl::agent::driver::inspect::WeakSerials;

struct SerialCase {
    const char* name;
    std::string serial;
    bool placeholder;
    std::optional<std::string> vm;
};

class WeakSerial : public ::testing::TestWithParam<SerialCase> {};

TEST_P(WeakSerial, IsJudgedByTheDocumentedList) {
    EXPECT_EQ(WeakSerials::IsPlaceholder(GetParam().serial), GetParam().placeholder);
    EXPECT_EQ(WeakSerials::VirtualMachine(GetParam().serial), GetParam().vm);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, WeakSerial,
    ::testing::Values(
        SerialCase{"ToBeFilledByOEM", "To be filled by O.E.M.", true, std::nullopt},
        SerialCase{"SystemSerialNumber", "System Serial Number", true, std::nullopt},
        SerialCase{"NotApplicable", "N/A", true, std::nullopt},
        SerialCase{"AllZeros", "000000000000", true, std::nullopt},
        SerialCase{"OnlyADot", " . ", true, std::nullopt},
        SerialCase{"CountingDigits", "1234567890.", true, std::nullopt},
        SerialCase{"Empty", "", false, std::nullopt},
        SerialCase{"MacSerial", "C02XK1ABJG5J", false, std::nullopt},
        SerialCase{"BoardSerialStartingWithVM", "VM145S005223", false,
                   std::nullopt},                               // a real board serial
        SerialCase{"VirtualBoxZero", "0", true, std::nullopt},  // VirtualBox's
        SerialCase{"Parallels", "Parallels-9C 2B 11 0F", false, std::string("Parallels")},
        SerialCase{"VMware", "VMware-56 4d e2 c3", false, std::string("VMware")},
        SerialCase{"QEMU", "QEMU-0001", false, std::string("QEMU")},
        SerialCase{"HyperV", "1519-7810-4472-8775-7272-8851-12", false, std::string("Hyper-V")}),
    grellan::testing::CaseName());

}  // namespace
