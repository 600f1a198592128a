#pragma once

#include <array>
#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "business/HardwareSerials.h"
#include "smbios/SmBios.h"

namespace tirsel::kvl::agent::driver::business {

// The four serials of the fingerprint: which SMBIOS structures each comes
// from, the order they are loaded in and the order they are joined in. The
// calculator, grellaninspect (report, JSON, diff, warnings) and the tests all
// take the slots from here.
class DigestSlots {
public:
    enum class Id { Chassis, System, Baseboard, Processor };

    // SMBIOS 2.3 added the processor structure's SerialNumber field.
    static constexpr unsigned int kProcessorSerialVersion = 0x0203;

    struct Slot {
        Id id;
        const char* name;
        // The SMBIOS structure type whose serials make up the slot.
        unsigned char type;
        // Where that type's record has its SerialNumber field.
        std::size_t serialOffset;
        // The oldest table version (major * 256 + minor) that has the field.
        unsigned int sinceVersion;
        std::string HardwareSerials::*serial;
    };

    // The order the serials are joined in to make the digest input.
    static constexpr std::array<Slot, 4> kDigestOrder = {{
        {Id::Chassis, "chassis", 3, offsetof(smbios::SmBios::_CHASSIS, SerialNumber), 0,
         &HardwareSerials::chassis},
        {Id::System, "system", 1, offsetof(smbios::SmBios::_SYSTEM, SerialNumber), 0,
         &HardwareSerials::system},
        {Id::Baseboard, "baseboard", 2, offsetof(smbios::SmBios::_BASEBOARD, SerialNumber), 0,
         &HardwareSerials::baseboard},
        {Id::Processor, "processor", 4, offsetof(smbios::SmBios::_PROCESSOR, SerialNumber),
         kProcessorSerialVersion, &HardwareSerials::processor},
    }};

    // The order the serials are loaded in from a table, and the order the
    // fallback's steps are told in (its commands run at the same time).
    static constexpr std::array<Id, 4> kLoadingOrder = {Id::Processor, Id::Chassis, Id::System,
                                                        Id::Baseboard};

    static const Slot& Of(Id id);

    // Whether a table of `version` holds the slot's serials.
    static bool IsRead(const Slot& slot, unsigned int version) {
        return version >= slot.sinceVersion;
    }

    // One structure's part in a slot.
    struct Contribution {
        const smbios::SmBios::CStruct* structure;
        // The string number in its SerialNumber field; absent when the
        // structure is too short to hold the field (it then adds nothing).
        std::optional<unsigned> stringNumber;
        // The string as it enters the digest (cleaned and trimmed).
        std::string serial;
    };

    // Every structure of `type`, in table order, with the string that the
    // field at `serialOffset` names.
    static std::vector<Contribution> Structures(unsigned char type, std::size_t serialOffset,
                                                const smbios::SmBios& table);
    // The structures whose serials make up `slot`: none from a table older
    // than the slot's field.
    static std::vector<Contribution> Structures(const Slot& slot, const smbios::SmBios& table);
};

}  // namespace tirsel::kvl::agent::driver::business
