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

    // Obtains the running machine's table and holds it: LoadFromFirmware on a
    // cleared object, then its snapshot text when a table was found. Defined
    // beside the acquisition (FirmwareTable.cpp): this file reads no firmware.
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

    // The indexes point into `data` and into `structures`: not copyable.
    SmBios(const SmBios&) = delete;
    SmBios& operator=(const SmBios&) = delete;
    SmBios(SmBios&&) = delete;
    SmBios& operator=(SmBios&&) = delete;
    ~SmBios() = default;

    // Drops the table and every index entry; the snapshot text and the entry
    // point's version stay.
    void Clear();
    // Indexes the table held in `data`, replacing any earlier index: all of
    // it, or (when an allocation fails) none of it.
    void Map();

    // The structures of `type`, in table order. The pointers stay valid until
    // the next Clear, Map or load, or the object's end.
    void GetStructData(unsigned char type, std::list<CStruct*>& out) const;
    // The structure with `handle` (the later one where two share it), or null.
    CStruct* GetStructData(unsigned int handle) const;
    // Major * 256 + minor from the prefix; 0 without a table. The calculator
    // reads processor serials from 2.3 on.
    unsigned int Version() const;
    // The prefix's version bytes one by one, as the inspector prints them.
    unsigned char MajorVersion() const;
    unsigned char MinorVersion() const;

    // Replaces whatever the object holds by the running machine's table:
    // clears first, so a second load holds the second table only, with its
    // own snapshot text (empty when no table was found). Defined beside the
    // acquisition, like the default constructor.
    void LoadFromFirmware();

    // Between the held bytes and the snapshot text: Encode sets the text from
    // the bytes, Decode the bytes from the text (without indexing them). Both
    // throw std::logic_error "SmBios can not be loaded" when there is nothing
    // to convert.
    void EncodeBinaryData();
    void DecodeBinaryData();
    // Two tables are the same when their snapshot texts are: every held byte,
    // the prefix included. How a support engineer compares two captures.
    bool operator==(const SmBios& other) const;
    bool operator!=(const SmBios& other) const;

    // Read-only views for diagnostics and tests.
    const std::vector<unsigned char>& HeldBytes() const {
        return data;
    }
    const std::string& SnapshotText() const {
        return encoded;
    }
    // The version the entry point stated (informational: Version reads the
    // prefix).
    unsigned char EntryMajor() const {
        return entryMajor;
    }
    unsigned char EntryMinor() const {
        return entryMinor;
    }

private:
    // Replaces whatever the object holds by an acquired table: the firmware
    // members and the constructor from an acquired table end here.
    void Load(FirmwareTable acquired);
    // Takes `heldBytes` into a cleared object, indexes them and encodes their
    // snapshot text; an object that fails to do so is left empty.
    void Hold(std::vector<unsigned char> heldBytes);

    std::vector<unsigned char> data;
    std::string encoded;
    // Every indexed structure, by value, in table order. Map replaces it
    // whole and nothing else resizes it, so the pointers in the indexes (and
    // those handed out) stay valid until the next Clear, Map or load.
    std::vector<CStruct> structures;
    std::map<unsigned char, std::vector<CStruct*>> structsByType;
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
