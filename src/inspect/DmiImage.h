#pragma once

#include <string>
#include <vector>

namespace tirsel::kvl::agent::driver::inspect {

// A raw SMBIOS structure table read from a file, turned into held bytes
// (16-byte prefix and table) for the table model. Two layouts are read:
//  - dmidecode --dump-bin: a 2.1 ("_SM_") entry point at offset 0 and the
//    table at the address it states (32 in such files);
//  - the raw table Linux exposes as /sys/firmware/dmi/tables/DMI, with the
//    entry point in the file smbios_entry_point beside it.
// A 64-bit SMBIOS 3 ("_SM3_") entry point is refused: the library reads none.
class DmiImage {
public:
    struct Loaded {
        std::vector<unsigned char> heldBytes;
        std::vector<std::string> steps;
    };

    // Throws BadInput with a readable reason when the file cannot be read or
    // holds no usable entry point.
    static Loaded Load(const std::string& path);

    // The same from the file's content: a dump-bin file when it starts with
    // an entry point, else a raw table whose entry point is read from the file
    // smbios_entry_point beside `path`.
    static Loaded FromContent(const std::vector<unsigned char>& image, const std::string& path);

    // The same from bytes: `image` is the table file, `entryPoint` the
    // separate entry point (empty for a dump-bin file, which carries its own).
    static Loaded FromBytes(const std::vector<unsigned char>& image,
                            const std::vector<unsigned char>& entryPoint);
};

}  // namespace tirsel::kvl::agent::driver::inspect
