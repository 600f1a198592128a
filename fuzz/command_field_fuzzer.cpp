// The colon-field logic that reads system_profiler's output, on any text.
#include <cstddef>
#include <cstdint>
#include <string>

#include "business/SerialLoader.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using tirsel::kvl::agent::driver::business::SerialLoader;
    const std::string output(reinterpret_cast<const char*>(data), size);
    const std::string field = SerialLoader::SecondField(output);
    // The field is a trimmed piece of the text between its first two colons.
    const std::size_t colon = output.find(':');
    if (colon == std::string::npos ? !field.empty() : field.size() > output.size() - colon - 1) {
        __builtin_trap();
    }
    if (field.find(':') != std::string::npos) {
        __builtin_trap();
    }
    return 0;
}
