#pragma once

#include <cstddef>
#include <cstdint>
#include <list>
#include <map>
#include <ostream>
#include <string>
#include <vector>

namespace tirsel::kvl::agent::driver::smbios {

struct FirmwareTable;

// One SMBIOS structure table, held as bytes behind a 16-byte prefix:
//   [0] 0, [1] major, [2] minor, [3] entry-point revision,
//   [4..7] table length (32-bit little-endian), [8..15] reserved (zero),
//   [16..] the structure table as the firmware provides it.
// Structures are indexed by type and by handle; nothing is copied until a
// string is asked for.
class SmBios {
public:
    // Record layouts laid over the table bytes (byte-packed, never copied).
    // The names are the firmware's own field names.
    // NOLINTBEGIN(bugprone-reserved-identifier,cert-dcl37-c,cert-dcl51-cpp)
#pragma pack(push, 1)
    struct _HEADER {
        std::uint8_t Type;
        std::uint8_t Length;
        std::uint16_t Handle;
    };
    struct _SYSTEM {  // type 1
        _HEADER Header;
        std::uint8_t Manufacturer;
        std::uint8_t ProductName;
        std::uint8_t Version;
        std::uint8_t SerialNumber;
        std::uint8_t Uuid[16];
        std::uint8_t WakeUpType;
        std::uint8_t SkuNumber;
        std::uint8_t Family;
    };
    struct _BASEBOARD {  // type 2
        _HEADER Header;
        std::uint8_t Manufacturer;
        std::uint8_t Product;
        std::uint8_t Version;
        std::uint8_t SerialNumber;
        std::uint8_t AssetTag;
        std::uint8_t FeatureFlags;
        std::uint8_t LocationInChassis;
        std::uint16_t ChassisHandle;
        std::uint8_t BoardType;
        std::uint8_t NumberOfContainedObjectHandles;
    };
    struct _CHASSIS {  // type 3
        _HEADER Header;
        std::uint8_t Manufacturer;
        std::uint8_t Type;
        std::uint8_t Version;
        std::uint8_t SerialNumber;
        std::uint8_t AssetTag;
        std::uint8_t BootUpState;
        std::uint8_t PowerSupplyState;
        std::uint8_t ThermalState;
        std::uint8_t SecurityStatus;
        std::uint32_t OemDefined;
        std::uint8_t Height;
        std::uint8_t NumberOfPowerCords;
        std::uint8_t ContainedElementCount;
        std::uint8_t ContainedElementRecordLength;
    };
    struct _PROCESSOR {  // type 4
        _HEADER Header;
        std::uint8_t SocketDesignation;
        std::uint8_t ProcessorType;
        std::uint8_t ProcessorFamily;
        std::uint8_t ProcessorManufacturer;
        std::uint8_t ProcessorId[8];
        std::uint8_t ProcessorVersion;
        std::uint8_t Voltage;
        std::uint16_t ExternalClock;
        std::uint16_t MaxSpeed;
        std::uint16_t CurrentSpeed;
        std::uint8_t Status;
        std::uint8_t ProcessorUpgrade;
        std::uint16_t L1CacheHandle;
        std::uint16_t L2CacheHandle;
        std::uint16_t L3CacheHandle;
        std::uint8_t SerialNumber;  // SMBIOS 2.3 and later
        std::uint8_t AssetTag;
        std::uint8_t PartNumber;
    };
#pragma pack(pop)
    // NOLINTEND(bugprone-reserved-identifier,cert-dcl37-c,cert-dcl51-cpp)

    // One indexed structure: its header inside the held bytes and the start of
    // each of its strings there.
    class CStruct {
    public:
        explicit CStruct(const _HEADER* hdr) : header(hdr) {}

        // String `number` (1-based), with every byte outside 0x20..0x7F made a
        // blank and trimmed; empty for 0 or a number beyond the strings.
        std::string GetString(unsigned long number) const;

        const _HEADER* header;
        std::vector<const char*> strings;
    };

    // Obtains the running machine's table (AcquireFirmwareTable) and holds it.
    SmBios();
    // Holds a table that AcquireFirmwareTable obtained, as the default
    // constructor does: `loaded` when it found one.
    explicit SmBios(FirmwareTable acquired);
    // Rebuilds a table from its snapshot text; throws std::logic_error
    // "SmBios can not be loaded" for text that decodes to fewer than 16 bytes.
    explicit SmBios(const std::string& text);
    // Indexes held bytes read elsewhere (a file, a snapshot decoded by its
    // reader) and encodes their snapshot text. Not `loaded`: that is kept for
    // tables obtained from this machine's firmware. Throws std::logic_error
    // "SmBios can not be loaded" for fewer than 16 bytes, as the text
    // constructor does.
    explicit SmBios(std::vector<unsigned char> heldBytes);
    ~SmBios();

    // The maps point into `data` and own their entries: not copyable.
    SmBios(const SmBios&) = delete;
    SmBios& operator=(const SmBios&) = delete;
    SmBios(SmBios&&) = delete;
    SmBios& operator=(SmBios&&) = delete;

    void Clear();
    void Map();

    void GetStructData(unsigned char type, std::list<CStruct*>& out) const;
    unsigned int Version() const;

    // The rest of the table's published interface, kept for the hosts of
    // this class: the fingerprint uses none of it (the look-up by handle, the
    // version bytes one by one, the firmware read into a cleared object, the
    // snapshot text's conversions, comparison and printing).
    CStruct* GetStructData(unsigned int handle) const;
    unsigned char MajorVersion() const;
    unsigned char MinorVersion() const;
    void LoadFromFirmware();
    void EncodeBinaryData();
    void DecodeBinaryData();
    bool operator==(const SmBios& other) const;
    bool operator!=(const SmBios& other) const;

    // Read-only views for diagnostics and tests.
    const std::vector<unsigned char>& HeldBytes() const {
        return data;
    }
    const std::string& SnapshotText() const {
        return encoded;
    }
    unsigned char EntryMajor() const {
        return entryMajor;
    }
    unsigned char EntryMinor() const {
        return entryMinor;
    }

private:
    // Takes the held bytes of a cleared object and indexes them.
    void Adopt(std::vector<unsigned char> heldBytes);
    // Takes an acquired table into a cleared object and sets `loaded`.
    void Hold(FirmwareTable acquired);

    std::vector<unsigned char> data;
    std::string encoded;
    std::map<unsigned char, std::list<CStruct*>> structsByType;
    std::map<unsigned int, CStruct*> structsByHandle;
    unsigned char entryMajor = 0;
    unsigned char entryMinor = 0;

public:
    bool loaded = false;
};

std::ostream& operator<<(std::ostream& os, const SmBios& table);

// The firmware layouts fix where each serial number's string number lies.
static_assert(offsetof(SmBios::_SYSTEM, SerialNumber) == 0x07);
static_assert(offsetof(SmBios::_BASEBOARD, SerialNumber) == 0x07);
static_assert(offsetof(SmBios::_CHASSIS, SerialNumber) == 0x07);
static_assert(offsetof(SmBios::_PROCESSOR, SerialNumber) == 0x20);
static_assert(sizeof(SmBios::_HEADER) == 4);

// Size of the prefix in front of the structure table in the held bytes.
constexpr std::size_t kTablePrefixSize = 16;

// Where and why the walk over a held table ended: Map indexes structures until
// the stated table length is used up (Complete) or until the first structure
// it cannot take, for one of the other reasons.
struct TableWalkEnd {
    enum class Reason { Complete, LengthBelow4, RunsPastTable, NoStringTerminator };
    Reason reason = Reason::Complete;
    // Offset inside the structure table where the walk ended (for a complete
    // walk, the number of table bytes it consumed).
    std::size_t offset = 0;
    // Structures indexed before it ended; the structure it stopped at is
    // number indexed + 1.
    std::size_t indexed = 0;

    // "complete", "length below 4", "runs past the table", "no string terminator".
    static const char* ReasonText(Reason reason);
};

// Walks the held bytes exactly as Map does, without indexing anything.
TableWalkEnd WalkTable(const std::vector<unsigned char>& data);

}  // namespace tirsel::kvl::agent::driver::smbios
