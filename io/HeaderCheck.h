#pragma once

// Checks made before a file reaches FreeImage, for the formats where FreeImage is known to hang
// or to accept garbage: an OpenEXR header cut short sends its reader into an endless loop, and
// BMP headers with impossible offsets or palettes load as noise.

#include <cstdint>
#include <span>
#include <string>

namespace lumivex {

/// False, with the reason, when the file is an OpenEXR or BMP file whose header or layout is
/// inconsistent with the file's length. Other files pass unchecked.
bool CheckKnownHeader(const std::string& fileName, std::string& error);
/// The same check on bytes already read: `head` holds the first bytes of a file of `fileSize`
/// bytes (a BMP is checked only when `head` is the whole file).
bool CheckKnownHeaderBytes(std::span<const std::uint8_t> head, std::uint64_t fileSize,
                           std::string& error);

}  // namespace lumivex
