#pragma once

#include <optional>
#include <string>
#include <vector>

#include "inspect/FingerprintReport.h"

namespace tirsel::kvl::agent::driver::inspect {

// Judges whether a fingerprint can tell one machine from another. Serials
// are compared without regard to case, blanks and punctuation. A serial is a
// placeholder when it
//  - is one of the texts firmware vendors leave unfilled: "To Be Filled By
//    O.E.M.", "Default string", "NotSpecified", "Not Applicable", "Not
//    Available", "None", "NULL", "Unknown", "N/A", "Default", "Empty",
//    "Invalid", "OEM", "Serial", "SN", "xxxx";
//  - says "serial number" ("System Serial Number", "Chassis Serial Number",
//    "Type2 - Board Serial Number", ...);
//  - holds the digit run 123456789 ("0123456789", "1234567890",
//    "BSN12345678901234567");
//  - has no letter or digit (all blanks, dots, dashes), or one letter or
//    digit repeated ("0", "00000000", "FFFFFFFF").
// A serial looks like a virtual machine's when it starts with "VMware-",
// "Parallels-", "Parallels ", "KVM", "Xen" or "GoogleCloud-", contains
// "VirtualBox", "QEMU" or "Bochs", or has Hyper-V's form of seven dash-joined
// digit groups (4-4-4-4-4-4-2).
class WeakSerials {
public:
    // The serial as the comparisons see it: its ASCII letters and digits, in
    // lower case ("To Be Filled By O.E.M." -> "tobefilledbyoem").
    static std::string Key(const std::string& serial);
    static bool IsPlaceholder(const std::string& serial);
    // The virtual machine the serial belongs to, when it looks like one's.
    static std::optional<std::string> VirtualMachine(const std::string& serial);

    // The warnings for one computation: per slot "empty", "placeholder" (every
    // non-empty serial of the slot is one) and "vm"; "no-serials" when all
    // four slots are empty. `structures` may be empty (fallback tools): each
    // slot is then judged as one serial.
    static std::vector<Warning> Find(const business::HardwareSerials& serials,
                                     const std::vector<StructureSerial>& structures,
                                     const std::string& fingerprint);
};

}  // namespace tirsel::kvl::agent::driver::inspect
