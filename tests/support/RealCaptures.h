#pragma once

// The real captures the tests read: dmidecode --dump-bin files of real
// machines' SMBIOS tables and Apple-silicon Macs' system_profiler reports,
// listed with their sources beside them. Every test takes them from here, so
// they are found in one place.

#include <algorithm>
#include <cstddef>
#include <filesystem>
#include <string>
#include <vector>

#include "TableBuilder.h"
#include "TestData.h"

namespace grellan::testing {

inline std::string RealTableDirectory() {
    return TestDataPath("smbios");
}

// The paths of the files in `directory` whose names end in `extension`, in
// name order.
inline std::vector<std::string> FilesIn(const std::string& directory, const char* extension) {
    std::vector<std::string> files;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(directory, error)) {
        if (entry.path().extension() == extension) {
            files.push_back(entry.path().string());
        }
    }
    std::sort(files.begin(), files.end());
    return files;
}

// The tables' paths in name order.
inline std::vector<std::string> RealTableFiles() {
    return FilesIn(RealTableDirectory(), ".bin");
}

// The system_profiler SPHardwareDataType reports' paths in name order.
inline std::vector<std::string> RealReportFiles() {
    return FilesIn(TestDataPath("system_profiler"), ".txt");
}

// The snapshot text of a dump-bin file with a 64-bit "_SM3_" entry point,
// which the library does not read: its table held with the version and up to
// the maximum length the entry point states, as a 2.1 entry point would give it.
inline std::string SnapshotOfSm3Dump(const std::string& dump) {
    const Bytes bytes(dump.begin(), dump.end());
    const std::size_t stated = bytes[0x0C] | (bytes[0x0D] << 8) | (bytes[0x0E] << 16) |
                               (static_cast<std::size_t>(bytes[0x0F]) << 24);
    const Bytes table(bytes.begin() + 32, bytes.begin() + 32 + std::min(stated, bytes.size() - 32));
    return TableBuilder::Snapshot(bytes[7], bytes[8], table);
}

}  // namespace grellan::testing
