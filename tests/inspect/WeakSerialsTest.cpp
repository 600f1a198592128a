#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "inspect/WeakSerials.h"

namespace {

using tirsel::kvl::agent::driver::inspect::WeakSerials;

struct SerialCase {
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
        SerialCase{"To be filled by O.E.M.", true, std::nullopt},
        SerialCase{"System Serial Number", true, std::nullopt},
        SerialCase{"N/A", true, std::nullopt}, SerialCase{"000000000000", true, std::nullopt},
        SerialCase{" . ", true, std::nullopt}, SerialCase{"1234567890.", true, std::nullopt},
        SerialCase{"", false, std::nullopt}, SerialCase{"C02XK1ABJG5J", false, std::nullopt},
        SerialCase{"VM145S005223", false, std::nullopt},  // a real board serial
        SerialCase{"0", true, std::nullopt},              // VirtualBox's
        SerialCase{"Parallels-9C 2B 11 0F", false, std::string("Parallels")},
        SerialCase{"VMware-56 4d e2 c3", false, std::string("VMware")},
        SerialCase{"QEMU-0001", false, std::string("QEMU")},
        SerialCase{"1519-7810-4472-8775-7272-8851-12", false, std::string("Hyper-V")}));

}  // namespace
