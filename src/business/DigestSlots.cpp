#include "business/DigestSlots.h"

#include <list>

namespace tirsel::kvl::agent::driver::business {

using smbios::SmBios;

const DigestSlots::Slot& DigestSlots::Of(Id id) {
    for (const Slot& slot : kDigestOrder) {
        if (slot.id == id) {
            return slot;
        }
    }
    return kDigestOrder.front();  // not reached: every Id has its slot
}

std::vector<DigestSlots::Contribution> DigestSlots::Structures(unsigned char type,
                                                               std::size_t serialOffset,
                                                               const SmBios& table) {
    std::list<SmBios::CStruct*> structures;
    table.GetStructData(type, structures);
    std::vector<Contribution> contributions;
    contributions.reserve(structures.size());
    for (const SmBios::CStruct* structure : structures) {
        Contribution contribution{structure, std::nullopt, std::string()};
        // A structure too short to hold the field contributes nothing: the
        // byte is read only inside the structure's own formatted area.
        if (structure->header->Length > serialOffset) {
            const auto* bytes = reinterpret_cast<const unsigned char*>(structure->header);
            contribution.stringNumber = bytes[serialOffset];
            contribution.serial = structure->GetString(bytes[serialOffset]);
        }
        contributions.push_back(std::move(contribution));
    }
    return contributions;
}

std::vector<DigestSlots::Contribution> DigestSlots::Structures(const Slot& slot,
                                                               const SmBios& table) {
    if (!IsRead(slot, table.Version())) {
        return {};
    }
    return Structures(slot.type, slot.serialOffset, table);
}

}  // namespace tirsel::kvl::agent::driver::business
