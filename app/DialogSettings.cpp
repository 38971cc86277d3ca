#include "app/DialogSettings.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <string_view>
#include <utility>

#include "app/Settings.h"

namespace lumivex {
namespace {

struct TNamedColor {
    const char* Name;
    TColor Color;
};

// The colour names the original's colour pickers understood, as $00BBGGRR.
constexpr TNamedColor NamedColors[] = {
    {"clBlack", 0x000000},      {"clMaroon", 0x000080},  {"clGreen", 0x008000},
    {"clOlive", 0x008080},      {"clNavy", 0x800000},    {"clPurple", 0x800080},
    {"clTeal", 0x808000},       {"clGray", 0x808080},    {"clSilver", 0xC0C0C0},
    {"clRed", 0x0000FF},        {"clLime", 0x00FF00},    {"clYellow", 0x00FFFF},
    {"clBlue", 0xFF0000},       {"clFuchsia", 0xFF00FF}, {"clAqua", 0xFFFF00},
    {"clWhite", 0xFFFFFF},      {"clLtGray", 0xC0C0C0},  {"clDkGray", 0x808080},
    {"clMoneyGreen", 0xC0DCC0}, {"clSkyBlue", 0xF0CAA6}, {"clCream", 0xF0FBFF},
    {"clMedGray", 0xA4A0A0},
};

bool SameText(std::string_view a, std::string_view b)
{
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               auto lower = [](char c) {
                   return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
               };
               return lower(x) == lower(y);
           });
}

std::string_view TrimBlanks(std::string_view s)
{
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t'))
        s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t'))
        s.remove_suffix(1);
    return s;
}

}  // namespace

TDialogSettings::TDialogSettings(const std::string& fileName, std::string section)
    : m_ini(fileName), m_section(std::move(section))
{
}

std::optional<std::string> TDialogSettings::Read(const std::string& key) const
{
    if (m_section.empty())
        return std::nullopt;
    std::string value = m_ini.ReadString(m_section, key, DialogMissing);
    if (value == DialogMissing)
        return std::nullopt;
    return value;
}

void TDialogSettings::Write(const std::string& key, const std::string& value)
{
    if (!m_section.empty())
        m_ini.WriteString(m_section, key, value);  // a refused key is dropped like a failed write
}

std::string SliderText(std::span<const std::int32_t> cursors)
{
    std::string text;
    for (std::size_t i = 0; i < cursors.size(); ++i) {
        if (i > 0)
            text += ';';
        text += std::to_string(cursors[i]);
    }
    return text;
}

std::int32_t SliderFirstCursor(const std::string& text) { return TextToIntDef(text, 0); }

std::int32_t TextToInt(const std::string& text) { return TextToIntDef(text, 0); }

std::string FloatText(double value)
{
    if (!std::isfinite(value))
        return "0";
    char buf[64];
    const auto [end, ec] = std::to_chars(buf, buf + sizeof buf, value);
    return ec == std::errc() ? std::string(buf, end) : std::string("0");
}

double TextToFloat(const std::string& text)
{
    std::string s(TrimBlanks(text));
    // Files written under a locale with a decimal comma read the same.
    std::replace(s.begin(), s.end(), ',', '.');
    std::string_view v(s);
    if (!v.empty() && v.front() == '+')
        v.remove_prefix(1);
    double value = 0.0;
    const auto [end, ec] = std::from_chars(v.data(), v.data() + v.size(), value);
    if (v.empty() || ec != std::errc() || end != v.data() + v.size() || !std::isfinite(value))
        return 0.0;
    return value;
}

std::string QuotedText(const std::string& text) { return "\"" + text + "\""; }

std::string CheckText(bool checked) { return checked ? "1" : "0"; }

bool TextToCheck(const std::string& text) { return text.empty() || text.front() != '0'; }

std::string ColorText(TColor color)
{
    if (color < 0)
        color = GetSysColor(color & 0xFF);
    const auto c = static_cast<std::uint32_t>(color);
    char buf[8];
    std::snprintf(buf, sizeof buf, "#%02X%02X%02X", c & 0xFF, (c >> 8) & 0xFF, (c >> 16) & 0xFF);
    return buf;
}

TColor TextToColor(const std::string& text)
{
    std::string_view s = TrimBlanks(text);
    for (const TNamedColor& named : NamedColors)
        if (SameText(s, named.Name))
            return named.Color;
    if (!s.empty() && (s.front() == '#' || s.front() == '$'))
        s.remove_prefix(1);
    if (s.size() != 6)
        return 0;
    std::uint32_t rgb = 0;
    const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), rgb, 16);
    if (ec != std::errc() || end != s.data() + s.size())
        return 0;
    // RRGGBB in the text, $00BBGGRR in the value.
    return static_cast<TColor>(((rgb & 0xFF) << 16) | (rgb & 0xFF00) | ((rgb >> 16) & 0xFF));
}

std::string StateText(bool visible, bool enabled, const std::string& value)
{
    return std::string(visible ? "1" : "0") + (enabled ? "1" : "0") + value;
}

TControlState SplitStateText(const std::string& text)
{
    TControlState state;
    if (text.size() < 2) {
        state.Value = text;
        return state;
    }
    state.HasState = true;
    state.Visible = text[0] == '1';
    state.Enabled = text[1] == '1';
    state.Value = text.substr(2);
    return state;
}

std::int32_t ClampDialogEdge(std::int32_t edge, std::int32_t size, std::int32_t screen,
                             std::int32_t margin)
{
    const std::int64_t e = edge;
    if (e - margin < 0)
        return margin;
    if (e + size + margin > screen)
        return static_cast<std::int32_t>(std::int64_t{screen} - size - margin);
    return edge;
}

}  // namespace lumivex
