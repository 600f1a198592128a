#include "business/HwHashCalculator.h"

#include <cstddef>
#include <cstdio>
#include <vector>

#include "business/DigestSlots.h"
#include "business/SerialComputation.h"
#include "common/Md5Digest.h"

namespace tirsel::kvl::agent::driver::business {

using smbios::SmBios;

namespace {

std::string Joined(const std::vector<DigestSlots::Contribution>& structures) {
    std::string serials;
    for (const DigestSlots::Contribution& structure : structures) {
        serials += structure.serial;
    }
    return serials;
}

}  // namespace

template <class T>
std::string HwHashCalculator::LoadSmBiosSerial(unsigned char type, const SmBios& table) {
    return Joined(DigestSlots::Structures(type, offsetof(T, SerialNumber), table));
}

template std::string HwHashCalculator::LoadSmBiosSerial<SmBios::_PROCESSOR>(unsigned char,
                                                                            const SmBios&);
template std::string HwHashCalculator::LoadSmBiosSerial<SmBios::_CHASSIS>(unsigned char,
                                                                          const SmBios&);
template std::string HwHashCalculator::LoadSmBiosSerial<SmBios::_SYSTEM>(unsigned char,
                                                                         const SmBios&);
template std::string HwHashCalculator::LoadSmBiosSerial<SmBios::_BASEBOARD>(unsigned char,
                                                                            const SmBios&);

// Each slot's serial is what LoadSmBiosSerial gives for the slot's record
// type: the slot states that record's SerialNumber offset.
HardwareSerials HwHashCalculator::SerialsFromTable(const SmBios& table) {
    HardwareSerials serials;
    for (const DigestSlots::Id id : DigestSlots::kLoadingOrder) {
        const DigestSlots::Slot& slot = DigestSlots::Of(id);
        serials.*slot.serial = Joined(DigestSlots::Structures(slot, table));
    }
    return serials;
}

std::string HwHashCalculator::DigestInput(const HardwareSerials& serials) {
    std::string input;
    for (const DigestSlots::Slot& slot : DigestSlots::kDigestOrder) {
        input += serials.*slot.serial;
    }
    return input;
}

std::string HwHashCalculator::HashText(const HardwareSerials& serials) {
    const std::string input = DigestInput(serials);
    const common::Md5Bytes digest = common::Md5Digest(input.data(), input.size());
    std::string text;
    text.reserve(std::size_t{2} * digest.size());
    for (const unsigned char byte : digest) {
        char hex[3];
        std::snprintf(hex, sizeof hex, "%02x", byte);
        text.append(hex, 2);
    }
    return text;
}

std::string HwHashCalculator::CalculateHwHash() {
    return HashText(SerialComputation::OfThisMachine().Serials());
}

}  // namespace tirsel::kvl::agent::driver::business
