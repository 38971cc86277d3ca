#pragma once

// Checks made before a file reaches FreeImage, for the formats where FreeImage is known to hang
// or to accept garbage: an OpenEXR header cut short sends its reader into an endless loop, and
// BMP headers with impossible offsets or palettes load as noise.

#include <string>

namespace lumivex {

/// False, with the reason, when the file is an OpenEXR or BMP file whose header or layout is
/// inconsistent with the file's length. Other files pass unchecked.
bool CheckKnownHeader(const std::string& fileName, std::string& error);

}  // namespace lumivex
