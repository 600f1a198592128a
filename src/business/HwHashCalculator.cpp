#include "business/HwHashCalculator.h"

#include <openssl/md5.h>

#include <cstddef>
#include <cstdio>
#include <vector>

#include "business/DigestSlots.h"
#include "business/SerialLoader.h"

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
    serials.source = SerialSource::SmBiosTable;
    for (const DigestSlots::Id id : DigestSlots::kLoadingOrder) {
        const DigestSlots::Slot& slot = DigestSlots::Of(id);
        serials.*slot.serial = Joined(DigestSlots::Structures(slot, table));
    }
    return serials;
}

HardwareSerials HwHashCalculator::SerialsFromFallback() {
    HardwareSerials serials;
    serials.source = SerialSource::Fallback;
    SerialLoader loader;
    for (const DigestSlots::Id id : DigestSlots::kLoadingOrder) {
        switch (id) {
            case DigestSlots::Id::Processor: {
                const SerialLoader::ProcessorSerial processor = loader.GetProcessorSerialParts();
                serials.processor = processor.Serial();
                serials.processorIdentified = processor.Identified();
                break;
            }
            case DigestSlots::Id::Chassis:
                serials.chassis = loader.GetChassisSerial();
                break;
            case DigestSlots::Id::System:
                serials.system = loader.GetSystemSerial();
                break;
            case DigestSlots::Id::Baseboard:
                serials.baseboard = loader.GetBaseBoardSerial();
                break;
        }
    }
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
    std::string input;
    for (const DigestSlots::Slot& slot : DigestSlots::kDigestOrder) {
        input += serials.*slot.serial;
    }
    return input;
}

std::string HwHashCalculator::HashText(const HardwareSerials& serials) {
    const std::string input = DigestInput(serials);
    unsigned char digest[MD5_DIGEST_LENGTH];
    // OpenSSL 3 deprecates the one-shot MD5 in favour of EVP_Digest, but
    // EVP_Digest fetches a provider on its first use, which costs a fresh
    // process about 0.8 ms; the one-shot function computes the same digest
    // directly and cannot fail for in-memory input.
#if defined(__GNUC__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
#endif
    MD5(reinterpret_cast<const unsigned char*>(input.data()), input.size(), digest);
#if defined(__GNUC__)
#pragma GCC diagnostic pop
#endif
    std::string text;
    text.reserve(std::size_t{2} * MD5_DIGEST_LENGTH);
    for (unsigned int i = 0; i < MD5_DIGEST_LENGTH; ++i) {
        char hex[3];
        std::snprintf(hex, sizeof hex, "%02x", digest[i]);
        text.append(hex, 2);
    }
    return text;
}

std::string HwHashCalculator::CalculateHwHash() {
    return HashText(CollectSerials());
}

}  // namespace tirsel::kvl::agent::driver::business
