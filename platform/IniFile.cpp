#include "platform/IniFile.h"

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <system_error>
#include <utility>

#include "platform/SafeSave.h"

namespace lumivex {
namespace {

bool IsBlank(char c)
{
    // The platform also counts the DOS end-of-file mark as white space.
    return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f' || c == '\x1a';
}

std::string_view Trim(std::string_view s)
{
    while (!s.empty() && IsBlank(s.front()))
        s.remove_prefix(1);
    while (!s.empty() && IsBlank(s.back()))
        s.remove_suffix(1);
    return s;
}

char Lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool SameName(std::string_view a, std::string_view b)
{
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (Lower(a[i]) != Lower(b[i]))
            return false;
    return true;
}

enum class TLineKind : std::uint8_t { lkOther, lkSection, lkKey };

struct TParsedLine {
    TLineKind Kind = TLineKind::lkOther;
    std::string_view Name;
    std::string_view Value;
};

TParsedLine ParseLine(std::string_view line, bool first)
{
    if (first && line.substr(0, 3) == "\xEF\xBB\xBF")  // a UTF-8 byte-order mark
        line.remove_prefix(3);
    line = Trim(line);
    TParsedLine parsed;
    if (line.empty() || line.front() == ';')
        return parsed;
    if (line.front() == '[') {
        // Up to the last "]", as the platform reads it; without one the line may still be a key.
        const std::size_t close = line.rfind(']');
        if (close != std::string_view::npos) {
            parsed.Kind = TLineKind::lkSection;
            parsed.Name = Trim(line.substr(1, close - 1));
            return parsed;
        }
    }
    const std::size_t equal = line.find('=');
    if (equal == std::string_view::npos)
        return parsed;
    parsed.Name = Trim(line.substr(0, equal));
    if (parsed.Name.empty())
        return parsed;
    parsed.Kind = TLineKind::lkKey;
    parsed.Value = Trim(line.substr(equal + 1));
    return parsed;
}

std::string_view Unquote(std::string_view value)
{
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
        value.back() == value.front())
        return value.substr(1, value.size() - 2);
    return value;
}

bool HasLineBreak(std::string_view s)
{
    return s.find('\n') != std::string_view::npos || s.find('\r') != std::string_view::npos;
}

// Where a section and a key are: line indices, npos when missing.
struct TPlace {
    std::size_t Section = std::string_view::npos;
    std::size_t Key = std::string_view::npos;
    std::size_t LastKey = std::string_view::npos;  // the section's last key line (or header)
    std::string_view KeyName;                      // the key as the file spells it
};

TPlace Find(const std::vector<std::string>& lines, std::string_view section, std::string_view key)
{
    TPlace place;
    bool inside = false;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const TParsedLine line = ParseLine(lines[i], i == 0);
        if (line.Kind == TLineKind::lkSection) {
            if (inside)
                break;  // only the first section of that name counts
            if (SameName(line.Name, section)) {
                inside = true;
                place.Section = i;
                place.LastKey = i;
            }
        } else if (inside && line.Kind == TLineKind::lkKey) {
            place.LastKey = i;
            if (place.Key == std::string_view::npos && SameName(line.Name, key)) {
                place.Key = i;
                place.KeyName = line.Name;
            }
        }
    }
    return place;
}

}  // namespace

TIniFile::TIniFile(std::string fileName) : m_fileName(std::move(fileName))
{
    std::error_code ec;
    const bool exists = std::filesystem::exists(m_fileName, ec);
    if (ec) {
        m_readable = false;
        return;
    }
    if (!exists)
        return;
    const std::uintmax_t size = std::filesystem::file_size(m_fileName, ec);
    std::ifstream in(m_fileName, std::ios::binary);
    if (ec || size > MaxFileSize || !in) {
        m_readable = false;
        return;
    }
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (in.bad() || text.size() > MaxFileSize) {
        m_readable = false;
        return;
    }
    SetText(text);
}

TIniFile::~TIniFile() { Flush(); }

void TIniFile::SetText(std::string_view text)
{
    m_lines.clear();
    m_lineEnd = "\n";
    m_finalLineEnd = true;
    m_modified = false;
    if (text.empty())
        return;
    const std::size_t firstBreak = text.find('\n');
    if (firstBreak != std::string_view::npos && firstBreak > 0 && text[firstBreak - 1] == '\r')
        m_lineEnd = "\r\n";
    m_finalLineEnd = text.back() == '\n';
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string_view::npos)
            end = text.size();
        std::string_view line = text.substr(start, end - start);
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        m_lines.emplace_back(line);
        start = end + 1;
    }
}

std::string TIniFile::Text() const
{
    std::string text;
    for (std::size_t i = 0; i < m_lines.size(); ++i) {
        text += m_lines[i];
        if (i + 1 < m_lines.size() || m_finalLineEnd)
            text += m_lineEnd;
    }
    return text;
}

std::string TIniFile::ReadString(std::string_view section, std::string_view key,
                                 std::string_view defaultValue) const
{
    const TPlace place = Find(m_lines, Trim(section), Trim(key));
    if (place.Key == std::string_view::npos)
        return std::string(defaultValue);
    return std::string(Unquote(ParseLine(m_lines[place.Key], place.Key == 0).Value));
}

bool TIniFile::WriteString(std::string_view section, std::string_view key, std::string_view value)
{
    if (section.empty() || key.empty() || Trim(section) != section || Trim(key) != key ||
        HasLineBreak(section) || HasLineBreak(key) || HasLineBreak(value) ||
        section.find(']') != std::string_view::npos || key.find('=') != std::string_view::npos ||
        key.front() == '[' || key.front() == ';')
        return false;
    const TPlace place = Find(m_lines, section, key);
    if (place.Key != std::string_view::npos) {
        std::string line = std::string(place.KeyName) + "=" + std::string(value);
        if (line == m_lines[place.Key])
            return true;
        m_lines[place.Key] = std::move(line);
    } else if (place.Section != std::string_view::npos) {
        m_lines.insert(m_lines.begin() + static_cast<std::ptrdiff_t>(place.LastKey) + 1,
                       std::string(key) + "=" + std::string(value));
    } else {
        if (!m_lines.empty() && !Trim(m_lines.back()).empty())
            m_lines.emplace_back();
        m_lines.push_back("[" + std::string(section) + "]");
        m_lines.push_back(std::string(key) + "=" + std::string(value));
        m_finalLineEnd = true;
    }
    m_modified = true;
    return true;
}

bool TIniFile::Flush()
{
    if (!m_modified)
        return true;
    // A file that could not be read is never replaced: that would lose what it holds.
    if (!m_readable || m_fileName.empty())
        return false;
    const std::string text = Text();
    std::string error;
    const bool saved = SaveThroughTempFile(
        m_fileName,
        [&](const std::string& tempPath) {
            std::FILE* f = std::fopen(tempPath.c_str(), "wb");
            if (f == nullptr)
                return false;
            const bool written = std::fwrite(text.data(), 1, text.size(), f) == text.size();
            return std::fclose(f) == 0 && written;
        },
        error);
    if (saved)
        m_modified = false;
    return saved;
}

}  // namespace lumivex
