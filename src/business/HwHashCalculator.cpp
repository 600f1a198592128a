#include "business/HwHashCalculator.h"

#include <cstddef>
#include <cstdio>
#include <list>
#include <stdexcept>

#include "business/SerialLoader.h"
#include "common/Md5Digest.h"

namespace tirsel::kvl::agent::driver::business {

using smbios::SmBios;

namespace {

// SMBIOS 2.3 introduced the processor's SerialNumber field.
constexpr unsigned int kProcessorSerialVersion = 0x0203;

}  // namespace

template <class T>
std::string HwHashCalculator::LoadSmBiosSerial(unsigned char type, const SmBios& table) {
    constexpr std::size_t kOffset = offsetof(T, SerialNumber);
    std::string serials;
    std::list<SmBios::CStruct*> structures;
    table.GetStructData(type, structures);
    for (const SmBios::CStruct* structure : structures) {
        // A structure too short to hold the field contributes nothing: the
        // byte is read only inside the structure's own formatted area.
        if (structure->header->Length <= kOffset) {
            continue;
        }
        const auto* bytes = reinterpret_cast<const unsigned char*>(structure->header);
        serials += structure->GetString(bytes[kOffset]);
    }
    return serials;
}

template std::string HwHashCalculator::LoadSmBiosSerial<SmBios::_PROCESSOR>(unsigned char,
                                                                            const SmBios&);
template std::string HwHashCalculator::LoadSmBiosSerial<SmBios::_CHASSIS>(unsigned char,
                                                                          const SmBios&);
template std::string HwHashCalculator::LoadSmBiosSerial<SmBios::_SYSTEM>(unsigned char,
                                                                         const SmBios&);
template std::string HwHashCalculator::LoadSmBiosSerial<SmBios::_BASEBOARD>(unsigned char,
                                                                            const SmBios&);

HardwareSerials HwHashCalculator::SerialsFromTable(const SmBios& table) {
    HardwareSerials serials;
    serials.source = SerialSource::SmBiosTable;
    if (table.Version() >= kProcessorSerialVersion) {
        serials.processor = LoadSmBiosSerial<SmBios::_PROCESSOR>(4, table);
    }
    serials.chassis = LoadSmBiosSerial<SmBios::_CHASSIS>(3, table);
    serials.system = LoadSmBiosSerial<SmBios::_SYSTEM>(1, table);
    serials.baseboard = LoadSmBiosSerial<SmBios::_BASEBOARD>(2, table);
    return serials;
}

HardwareSerials HwHashCalculator::SerialsFromFallback() {
    HardwareSerials serials;
    serials.source = SerialSource::Fallback;
    SerialLoader loader;
    // The order is fixed: each getter runs its own commands.
    serials.processor = loader.GetProcessorSerial();
    serials.chassis = loader.GetChassisSerial();
    serials.system = loader.GetSystemSerial();
    serials.baseboard = loader.GetBaseBoardSerial();
    return serials;
}

HardwareSerials HwHashCalculator::CollectSerials() {
    const SmBios table;
    if (table.loaded) {
        return SerialsFromTable(table);
    }
    return SerialsFromFallback();
}

std::string HwHashCalculator::DigestInput(const HardwareSerials& serials) {
    return serials.chassis + serials.system + serials.baseboard + serials.processor;
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
    return HashText(CollectSerials());
}

}  // namespace tirsel::kvl::agent::driver::business
