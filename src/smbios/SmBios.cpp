#include "smbios/SmBios.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>
#include <utility>

#include "common/TirselFunctions.h"
#include "smbios/EntryPoint.h"
#include "smbios/FirmwareTable.h"  // the acquired table's fields only

namespace tirsel::kvl::agent::driver::smbios {

namespace {

// Size of the structure starting at `start`: formatted area plus string-set,
// up to and including the last zero byte of its terminator. Zero when the
// structure is malformed or does not end before `end`, with `why` saying
// which; the strings it holds are appended to `strings` as offsets.
std::size_t StructureExtent(const std::vector<unsigned char>& data, std::size_t start,
                            std::size_t end, std::vector<std::size_t>& strings,
                            TableWalkEnd::Reason& why) {
    why = TableWalkEnd::Reason::RunsPastTable;
    if (end - start < 4) {
        return 0;
    }
    const std::size_t length = data[start + 1];
    if (length < 4) {
        why = TableWalkEnd::Reason::LengthBelow4;
        return 0;
    }
    if (length > end - start) {
        return 0;
    }
    std::size_t p = start + length;
    if (p >= end) {
        return 0;
    }
    if (data[p] != 0) {
        do {
            strings.push_back(p);
            const auto* stop =
                static_cast<const unsigned char*>(std::memchr(data.data() + p, 0, end - p));
            if (stop == nullptr) {
                why = TableWalkEnd::Reason::NoStringTerminator;
                return 0;
            }
            p = static_cast<std::size_t>(stop - data.data()) + 1;
            if (p >= end) {
                return 0;
            }
        } while (data[p] != 0);
    } else if (++p >= end) {
        return 0;
    }
    why = TableWalkEnd::Reason::Complete;
    return p + 1 - start;
}

// The walk shared by Map and WalkTable: calls `onStructure(start, strings)`
// for every well-formed structure in table order and says where it ended.
template <class OnStructure>
TableWalkEnd Walk(const std::vector<unsigned char>& data, OnStructure onStructure) {
    TableWalkEnd walkEnd;
    if (data.size() < kTablePrefixSize) {
        return walkEnd;
    }
    const std::uint64_t stated = firmware::ReadLe32(data.data() + 4);
    const std::size_t end =
        static_cast<std::size_t>(std::min<std::uint64_t>(kTablePrefixSize + stated, data.size()));
    std::size_t start = kTablePrefixSize;
    std::vector<std::size_t> stringOffsets;
    while (start < end) {
        stringOffsets.clear();
        TableWalkEnd::Reason why = TableWalkEnd::Reason::Complete;
        const std::size_t extent = StructureExtent(data, start, end, stringOffsets, why);
        if (extent == 0) {
            walkEnd.reason = why;
            walkEnd.offset = start - kTablePrefixSize;
            return walkEnd;
        }
        onStructure(start, stringOffsets);
        ++walkEnd.indexed;
        start += extent;
    }
    walkEnd.offset = start - kTablePrefixSize;
    return walkEnd;
}

}  // namespace

std::string SmBios::CStruct::GetString(unsigned long number) const {
    std::string result;
    if (number != 0 && number - 1 < strings.size()) {
        result = strings[number - 1];
    }
    // Locale independent: only 0x20..0x7F survive (DEL stays as it is).
    for (char& c : result) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte > 0x7F) {
            c = ' ';
        }
    }
    common::TirselFunctions::trim(result);
    return result;
}

SmBios::SmBios(FirmwareTable acquired) {
    Load(std::move(acquired));
}

SmBios::SmBios(std::vector<unsigned char> heldBytes) {
    if (heldBytes.size() < kTablePrefixSize) {
        throw std::logic_error("SmBios can not be loaded");
    }
    Hold(std::move(heldBytes));
}

void SmBios::Load(FirmwareTable acquired) {
    Clear();
    encoded.clear();
    entryMajor = acquired.entryMajor;
    entryMinor = acquired.entryMinor;
    if (!acquired.heldBytes.empty()) {
        Hold(std::move(acquired.heldBytes));
    }
    loaded = !data.empty();
}

void SmBios::Hold(std::vector<unsigned char> heldBytes) {
    Clear();
    data = std::move(heldBytes);
    try {
        Map();
        EncodeBinaryData();
    } catch (...) {
        // An object that is loaded again must not keep bytes it did not
        // index: empty, as after a failed acquisition.
        Clear();
        throw;
    }
}

void SmBios::Clear() {
    data.clear();
    loaded = false;
    structsByType.clear();
    structsByHandle.clear();
    structures.clear();
}

// Indexes the structures of the held table in order. Firmware tables are not
// always well formed: the walk stops, without error, at the first structure
// whose header, formatted area or string-set would run past the stated table
// length or past the held bytes, or whose Length is below 4. Structures before
// it stay indexed. Nothing outside `data` is ever read. The structures are
// gathered first and the indexes built over them afterwards, since the
// gathering may move them; the members are replaced only at the end.
void SmBios::Map() {
    std::vector<CStruct> found;
    Walk(data, [this, &found](std::size_t start, const std::vector<std::size_t>& stringOffsets) {
        CStruct& entry = found.emplace_back(reinterpret_cast<const _HEADER*>(data.data() + start));
        entry.strings.reserve(stringOffsets.size());
        for (std::size_t offset : stringOffsets) {
            entry.strings.push_back(reinterpret_cast<const char*>(data.data() + offset));
        }
    });
    std::map<unsigned char, std::vector<CStruct*>> byType;
    std::map<unsigned int, CStruct*> byHandle;
    for (CStruct& entry : found) {
        byType[entry.header->Type].push_back(&entry);
        const auto* raw = reinterpret_cast<const unsigned char*>(entry.header);
        const unsigned int handle =
            static_cast<unsigned int>(raw[2]) | (static_cast<unsigned int>(raw[3]) << 8);
        byHandle[handle] = &entry;
    }
    // Swapping keeps every element where it is: the pointers stay valid.
    structures.swap(found);
    structsByType.swap(byType);
    structsByHandle.swap(byHandle);
}

TableWalkEnd WalkTable(const std::vector<unsigned char>& data) {
    return Walk(data, [](std::size_t, const std::vector<std::size_t>&) {});
}

const char* TableWalkEnd::ReasonText(Reason reason) {
    switch (reason) {
        case Reason::Complete:
            return "complete";
        case Reason::LengthBelow4:
            return "length below 4";
        case Reason::RunsPastTable:
            return "runs past the table";
        case Reason::NoStringTerminator:
            return "no string terminator";
    }
    return "complete";
}

void SmBios::GetStructData(unsigned char type, std::list<CStruct*>& out) const {
    out.clear();
    const auto found = structsByType.find(type);
    if (found != structsByType.end()) {
        out.assign(found->second.begin(), found->second.end());
    }
}

SmBios::CStruct* SmBios::GetStructData(unsigned int handle) const {
    const auto found = structsByHandle.find(handle);
    return found == structsByHandle.end() ? nullptr : found->second;
}

unsigned int SmBios::Version() const {
    return data.empty() ? 0U : (static_cast<unsigned int>(MajorVersion()) << 8) | MinorVersion();
}

unsigned char SmBios::MajorVersion() const {
    return data.size() > 1 ? data[1] : 0;
}

unsigned char SmBios::MinorVersion() const {
    return data.size() > 2 ? data[2] : 0;
}

}  // namespace tirsel::kvl::agent::driver::smbios
