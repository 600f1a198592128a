#include "inspect/WeakSerials.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <regex>
#include <utility>

#include "business/DigestSlots.h"
#include "inspect/ReportPrinter.h"

namespace tirsel::kvl::agent::driver::inspect {

namespace {

std::string Lower(const std::string& text) {
    std::string lower = text;
    std::transform(lower.begin(), lower.end(), lower.begin(), [](char c) {
        return static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    });
    return lower;
}

bool StartsWith(const std::string& text, const char* prefix) {
    return text.rfind(prefix, 0) == 0;
}

}  // namespace

std::string WeakSerials::Key(const std::string& serial) {
    std::string key;
    for (const char c : serial) {
        const auto byte = static_cast<unsigned char>(c);
        if (std::isalnum(byte) != 0 && byte < 0x80) {
            key += static_cast<char>(std::tolower(byte));
        }
    }
    return key;
}

bool WeakSerials::IsPlaceholder(const std::string& serial) {
    if (serial.empty()) {
        return false;
    }
    static const std::array<const char*, 16> kTexts = {"tobefilledbyoem",
                                                       "defaultstring",
                                                       "notspecified",
                                                       "notapplicable",
                                                       "notavailable",
                                                       "none",
                                                       "null",
                                                       "unknown",
                                                       "na",
                                                       "default",
                                                       "empty",
                                                       "invalid",
                                                       "oem",
                                                       "serial",
                                                       "sn",
                                                       "xxxx"};
    const std::string key = Key(serial);
    if (key.empty()) {
        return true;  // blanks and punctuation only
    }
    if (std::all_of(key.begin(), key.end(), [&](char c) { return c == key[0]; })) {
        return true;  // "0", "00000000", "FFFFFFFF"
    }
    if (key.find("serialnumber") != std::string::npos ||
        key.find("123456789") != std::string::npos) {
        return true;
    }
    return std::find(kTexts.begin(), kTexts.end(), key) != kTexts.end();
}

std::optional<std::string> WeakSerials::VirtualMachine(const std::string& serial) {
    static const std::array<std::pair<const char*, const char*>, 6> kPrefixes = {{
        {"vmware-", "VMware"},
        {"parallels-", "Parallels"},
        {"parallels ", "Parallels"},
        {"kvm", "KVM"},
        {"xen", "Xen"},
        {"googlecloud-", "Google Compute Engine"},
    }};
    static const std::array<std::pair<const char*, const char*>, 3> kInside = {{
        {"virtualbox", "VirtualBox"},
        {"qemu", "QEMU"},
        {"bochs", "Bochs"},
    }};
    const std::string lower = Lower(serial);
    for (const auto& [prefix, name] : kPrefixes) {
        if (StartsWith(lower, prefix)) {
            return std::string(name);
        }
    }
    for (const auto& [part, name] : kInside) {
        if (lower.find(part) != std::string::npos) {
            return std::string(name);
        }
    }
    static const std::regex kHyperV("[0-9]{4}(-[0-9]{4}){5}-[0-9]{2}");
    if (std::regex_match(serial, kHyperV)) {
        return std::string("Hyper-V");
    }
    return std::nullopt;
}

std::vector<Warning> WeakSerials::Find(const business::HardwareSerials& serials,
                                       const std::vector<StructureSerial>& structures,
                                       const std::string& fingerprint) {
    const auto& slots = business::DigestSlots::kDigestOrder;
    std::vector<Warning> warnings;
    std::size_t emptySlots = 0;
    for (const business::DigestSlots::Slot& digestSlot : slots) {
        const char* const slot = digestSlot.name;
        const std::string* const value = &(serials.*digestSlot.serial);
        if (value->empty()) {
            ++emptySlots;
            warnings.push_back(
                {"empty", std::string(slot),
                 std::string("the ") + slot + " serial is empty: it adds nothing to the digest"});
            continue;
        }
        // The serials that make up the slot: one per structure, or the slot
        // itself when it came from the fallback tools.
        std::vector<std::string> parts;
        for (const StructureSerial& structure : structures) {
            if (structure.slot == slot && !structure.serial.empty()) {
                parts.push_back(structure.serial);
            }
        }
        if (parts.empty()) {
            parts.push_back(*value);
        }
        for (const std::string& part : parts) {
            if (const std::optional<std::string> vm = VirtualMachine(part)) {
                warnings.push_back({"vm", std::string(slot),
                                    std::string("the ") + slot + " serial " +
                                        ReportPrinter::Quote(part) + " looks like a " + *vm +
                                        " virtual machine's: clones of one image may share it"});
                break;
            }
        }
        if (std::all_of(parts.begin(), parts.end(), IsPlaceholder)) {
            warnings.push_back({"placeholder", std::string(slot),
                                std::string("the ") + slot + " serial " +
                                    ReportPrinter::Quote(*value) +
                                    " is a firmware placeholder, not a serial number"});
        }
    }
    if (emptySlots == slots.size()) {
        warnings.push_back({"no-serials", std::nullopt,
                            "all four serials are empty: the fingerprint " + fingerprint +
                                " is the MD5 of empty input, shared by every such machine"});
    }
    return warnings;
}

}  // namespace tirsel::kvl::agent::driver::inspect
