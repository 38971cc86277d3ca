// The checks made before a file reaches FreeImage, on arbitrary bytes: they walk EXR attribute
// lists and BMP headers the file itself describes, so every length they follow must stay inside
// the bytes given. A refusal always carries its reason.
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

#include "io/HeaderCheck.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size > (1u << 20))
        return 0;
    const std::span<const std::uint8_t> input(data, size);
    std::string error;
    if (!lumivex::CheckKnownHeaderBytes(input, size, error) && error.empty())
        __builtin_trap();
    // Only the first part of a longer file: the EXR offset table may then lie past the head.
    error.clear();
    if (!lumivex::CheckKnownHeaderBytes(input.first(size / 2), size + 4096, error) && error.empty())
        __builtin_trap();
    return 0;
}
