#pragma once

// The dialog settings file, key by key: one section per dialog, named after it, with "$Left",
// "$Top", one key per stored control and "$Var0", "$Var1", ... A missing key reads as the
// sentinel "ERR!", so a stored "ERR!" counts as missing too. The dialog classes turn their
// controls into the value texts below and back.

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "core/BmpHdr.h"
#include "platform/IniFile.h"
#include "platform/SysColors.h"

namespace lumivex {

inline constexpr const char* DialogMissing = "ERR!";

/// One dialog's section of the dialog settings file.
class TDialogSettings {
public:
    /// A dialog with an empty name is never stored: every read misses, every write is dropped.
    TDialogSettings(const std::string& fileName, std::string section);

    /// Nothing for a missing key (or one that holds "ERR!").
    std::optional<std::string> Read(const std::string& key) const;
    void Write(const std::string& key, const std::string& value);
    /// Writes the changes; a failure is ignored by the dialogs.
    bool Flush() { return m_ini.Flush(); }

    static std::string VarKey(int index) { return "$Var" + std::to_string(index); }

private:
    TIniFile m_ini;
    std::string m_section;
};

// Value texts by control kind.
/// Slider cursors, decimal, joined by ";" (one cursor: "30"; three: "0;127;255").
std::string SliderText(std::span<const std::int32_t> cursors);
/// The first cursor of a slider: the whole text as an integer, 0 when it is not one number.
std::int32_t SliderFirstCursor(const std::string& text);
/// An integer number edit: 0 when the text is not a number.
std::int32_t TextToInt(const std::string& text);
/// Shortest text that reads back as the same double, always with "." whatever the locale.
std::string FloatText(double value);
/// "." and "," both count as the decimal separator; anything that is not a number gives 0.0.
double TextToFloat(const std::string& text);
/// An edit's text in double quotes, so that the reader keeps its leading and trailing blanks.
std::string QuotedText(const std::string& text);
std::string CheckText(bool checked);
/// Checked unless the first character is "0".
bool TextToCheck(const std::string& text);
/// "#RRGGBB" of a colour $00BBGGRR (a system colour is stored as its current value).
std::string ColorText(TColor color);
/// A colour name (clBlack, clRed, ...) or six hexadecimal digits RRGGBB after an optional "#"
/// or "$"; anything else gives black.
TColor TextToColor(const std::string& text);
/// The two-character prefix of storage option 4: visible, then enabled, as "1" or "0".
std::string StateText(bool visible, bool enabled, const std::string& value);
struct TControlState {
    bool HasState = false;  ///< false: the text was too short, the control keeps its state
    bool Visible = true;
    bool Enabled = true;
    std::string Value;
};
/// Splits a prefixed value ("1" means yes); a text shorter than two characters is all value.
TControlState SplitStateText(const std::string& text);

/// The stored left (or top) edge kept on the screen with a margin: an edge left of it moves to
/// margin, one that would put the far side past the screen moves back to screen - size - margin.
std::int32_t ClampDialogEdge(std::int32_t edge, std::int32_t size, std::int32_t screen,
                             std::int32_t margin);

}  // namespace lumivex
