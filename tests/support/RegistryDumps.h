#pragma once

#include <cstddef>
#include <string>

namespace grellan::testing {

// ioreg-style device-tree dumps of about `size` bytes, "unique-chip-id" near
// the end, for the parser's speed and memory measurements.
//
// Dense: small nested device nodes, every property short (one element for
// every 40 bytes or so): the worst case for a tree of the document.
std::string DenseRegistryDump(std::size_t size);
// Realistic: device nodes as the device tree of a Mac holds them, most of
// their bytes in Base64 data properties (register maps, interrupt tables,
// calibration and firmware blobs), written in lines of 76 as macOS does.
std::string RealisticRegistryDump(std::size_t size);

}  // namespace grellan::testing
