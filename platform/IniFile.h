#pragma once

// Settings files read and written key by key, with the rules of the original platform's
// private-profile functions:
// - Sections and keys match without regard to ASCII case; the first matching section and, in
//   it, the first matching key count.
// - Blanks around names and values are removed, then one pair of enclosing double or single
//   quotes, which is how a value keeps leading or trailing blanks.
// - Lines that start with ";" are comments; lines without "=" inside a section are not keys.
// - A missing file, section or key reads as the default.
// Writing changes only the line of the key (or adds it at the end of its section, or adds the
// section at the end of the file): every other line, comments included, stays byte for byte.

#include <string>
#include <string_view>
#include <vector>

namespace lumivex {

class TIniFile {
public:
    /// Reads the file now. A missing file reads as empty; a file that exists but cannot be read
    /// (or is larger than MaxFileSize) reads as empty too and is never overwritten.
    explicit TIniFile(std::string fileName);
    /// Writes pending changes; a failure is ignored, as the settings' users want.
    ~TIniFile();
    TIniFile(const TIniFile&) = delete;
    TIniFile& operator=(const TIniFile&) = delete;

    static constexpr std::size_t MaxFileSize = std::size_t{16} << 20;

    const std::string& FileName() const { return m_fileName; }

    /// The value of key in section, or defaultValue.
    std::string ReadString(std::string_view section, std::string_view key,
                           std::string_view defaultValue) const;
    /// Sets the key in memory until Flush. False, and nothing changes, when a line could not
    /// hold it: an empty name, a line break anywhere, "]" in the section, "=" in the key, a key
    /// starting with "[" or ";", or blanks around a name (the reader would remove them).
    bool WriteString(std::string_view section, std::string_view key, std::string_view value);
    /// Replaces the file with the changed text through a temporary file and a rename, so an
    /// interrupted write leaves the old file. True when nothing was pending.
    bool Flush();

    /// The whole text as it would be written.
    std::string Text() const;
    /// Reads text as if the file held it; nothing becomes pending.
    void SetText(std::string_view text);
    bool IsModified() const { return m_modified; }

private:
    std::string m_fileName;
    std::vector<std::string> m_lines;  // without their line ends
    std::string m_lineEnd = "\n";      // the file's own, CR LF when its first line had one
    bool m_finalLineEnd = true;
    bool m_readable = true;
    bool m_modified = false;
};

}  // namespace lumivex
