#include "inspect/DmiImage.h"

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <optional>

#include "inspect/BadInput.h"
#include "inspect/InputReader.h"
#include "smbios/EntryPoint.h"

namespace tirsel::kvl::agent::driver::inspect {

namespace {

namespace firmware = smbios::firmware;
using Bytes = std::vector<unsigned char>;

bool StartsWith(const Bytes& bytes, const char* anchor) {
    const std::size_t n = std::strlen(anchor);
    return bytes.size() >= n && std::memcmp(bytes.data(), anchor, n) == 0;
}

std::string Version(unsigned major, unsigned minor) {
    return std::to_string(major) + "." + std::to_string(minor);
}

// The 2.1 entry point, read the way the memory scan reads it: the "_SM_"
// part gives candidate versions, the "_DMI_" part must pass its checksum.
firmware::AcceptedEntryPoint ReadEntryPoint(const Bytes& ep, std::vector<std::string>& steps) {
    if (ep.size() < firmware::kEntryPointLength) {
        throw BadInput("the _SM_ entry point is " + std::to_string(ep.size()) +
                       " bytes, shorter than " + std::to_string(firmware::kEntryPointLength));
    }
    firmware::EntryPointScanner scanner;
    scanner.Examine(0, ep.data());
    const std::optional<firmware::AcceptedEntryPoint> accepted =
        scanner.Examine(firmware::kProbeStep, ep.data() + firmware::kProbeStep);
    if (!accepted) {
        throw BadInput(
            "the _SM_ entry point has no valid _DMI_ part (anchor, checksum or major version 0)");
    }
    steps.push_back("_SM_ entry point: SMBIOS " + Version(accepted->major, accepted->minor) +
                    ", table of " + std::to_string(accepted->tableLength) + " bytes");
    return *accepted;
}

Bytes ReadBytes(const std::string& path) {
    const std::string content = InputReader::ReadFile(path);
    return Bytes(content.begin(), content.end());
}

}  // namespace

DmiImage::Loaded DmiImage::FromBytes(const Bytes& image, const Bytes& entryPoint) {
    Loaded loaded;
    const bool dumpBin = entryPoint.empty();
    const Bytes& ep = dumpBin ? image : entryPoint;
    const char* const holder = dumpBin ? "the file" : "smbios_entry_point";
    if (StartsWith(ep, "_SM3_")) {
        // The memory scan looks for "_SM_" only, and the registry source
        // refuses an "SMBIOS-EPS" of this layout (24 bytes, shorter than the
        // 2.1 entry point): a fingerprint of this table would be one
        // GetHardwareHash never computes.
        throw BadInput(std::string("a 64-bit _SM3_ entry point (SMBIOS 3) at the start of ") +
                       holder +
                       ": libgrellan does not read such an entry point, only the "
                       "32-bit _SM_ one, so it computes no fingerprint from this table");
    }
    if (!StartsWith(ep, "_SM_")) {
        throw BadInput(std::string("no SMBIOS entry point (_SM_ or _SM3_) at the start of ") +
                       holder);
    }
    const firmware::AcceptedEntryPoint where = ReadEntryPoint(ep, loaded.steps);

    // A dump-bin file holds the table at the address its entry point states;
    // a raw table file is the table itself.
    const std::uint64_t offset = dumpBin ? where.tableAddress : 0;
    if (offset >= image.size()) {
        throw BadInput("the entry point puts the table at " + std::to_string(offset) +
                       ", past the file's " + std::to_string(image.size()) + " bytes");
    }
    std::uint64_t length = where.tableLength;
    if (length > image.size() - offset) {
        length = image.size() - offset;
        loaded.steps.push_back("the file holds only " + std::to_string(length) +
                               " bytes of the table: keeping what there is");
    }
    loaded.heldBytes =
        firmware::HeldBytes(where.major, where.minor, where.revision, image.data() + offset,
                            static_cast<std::uint32_t>(length));
    return loaded;
}

DmiImage::Loaded DmiImage::Load(const std::string& path) {
    return FromContent(ReadBytes(path), path);
}

DmiImage::Loaded DmiImage::FromContent(const Bytes& image, const std::string& path) {
    if (StartsWith(image, "_SM_") || StartsWith(image, "_SM3_")) {
        Loaded loaded = FromBytes(image, {});
        loaded.steps.insert(loaded.steps.begin(), path + ": dmidecode dump-bin layout");
        return loaded;
    }
    const std::string beside =
        (std::filesystem::path(path).parent_path() / "smbios_entry_point").string();
    if (!std::filesystem::exists(beside)) {
        throw BadInput(path + " is a raw table without an entry point: no " + beside +
                       " to give its SMBIOS version");
    }
    Loaded loaded = FromBytes(image, ReadBytes(beside));
    loaded.steps.insert(loaded.steps.begin(),
                        path + ": raw structure table, entry point from " + beside);
    return loaded;
}

}  // namespace tirsel::kvl::agent::driver::inspect
