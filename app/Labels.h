#pragma once

// Labels derived from captions: the names of history records, dialog titles, hints and value
// labels; and the size text of the status bar.

#include <cstdint>
#include <string>

namespace lumivex {

/// Removes the mnemonic "&" marks ("&&" stands for one "&" and becomes it), then a trailing
/// "...", then a trailing ":", then leading and trailing blanks.
std::string CleanCaption(const std::string& text);
/// CleanCaption with its first character upper case, then by kind: 0 " label ", 1 "label...",
/// 2 "label :", 3 "- label"; other kinds the label alone. Empty text gives an empty result.
std::string MakeLabel(const std::string& text, int kind);
/// MakeLabel(text, 2) and a printf format for one value: kind 0 " %d", 1 " %.2f", 2 " %d%%",
/// 3 " %d°" (U+00B0, UTF-8). Empty text gives an empty result.
std::string MakeValueFormat(const std::string& text, int kind);
/// A byte count as "1 byte", "12 bytes", "1.50 Kb", "2.00 Mb", "3.25 Gb" (two decimals with a
/// point whatever the locale).
std::string SizeText(std::int64_t bytes);

}  // namespace lumivex
