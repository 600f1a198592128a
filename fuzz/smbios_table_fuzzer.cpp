// Arbitrary bytes as held bytes (prefix and table): through the constructor
// from text and through Map, then every look-up, every string and the serial
// extraction of the fingerprint. Also the bytes taken as snapshot text.
#include <cstddef>
#include <cstdint>
#include <list>
#include <sstream>
#include <stdexcept>
#include <string>

#include "business/HwHashCalculator.h"
#include "common/Base64Coder.h"
#include "smbios/SmBios.h"

namespace {

using tirsel::kvl::agent::driver::business::HwHashCalculator;
using tirsel::kvl::agent::driver::smbios::SmBios;

void Exercise(const SmBios& table) {
    std::list<SmBios::CStruct*> structures;
    for (unsigned type = 0; type < 256; ++type) {
        table.GetStructData(static_cast<unsigned char>(type), structures);
        for (const SmBios::CStruct* s : structures) {
            if (table.GetStructData(s->header->Handle) == nullptr) {
                __builtin_trap();  // every indexed handle can be looked up
            }
            for (unsigned long n = 0; n <= s->strings.size() + 1; ++n) {
                (void)s->GetString(n);
            }
        }
    }
    HwHashCalculator calculator;
    (void)HwHashCalculator::HashText(calculator.SerialsFromTable(table));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text = tirsel::kvl::agent::driver::common::Base64Coder::Encode(data, size);
    try {
        const SmBios table(text);
        Exercise(table);
        // The text the table keeps is the text it was built from.
        std::ostringstream printed;
        printed << table;
        if (printed.str() != text) {
            __builtin_trap();
        }
    } catch (const std::logic_error&) {
        if (size >= 16) {
            __builtin_trap();  // only texts decoding to under 16 bytes are refused
        }
    }
    try {
        const SmBios table(std::string(reinterpret_cast<const char*>(data), size));
        Exercise(table);
    } catch (const std::logic_error&) {
    }
    return 0;
}
