#pragma once

// What the fuzz targets that go through real files share: a private folder made once at start
// and the writing of an input into it.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

namespace fuzz {

/// The private folder of this run, made by MakeFolder.
inline std::string& Folder()
{
    static std::string folder;
    return folder;
}

/// Makes a new folder in the temporary folder, named from prefix; the run cannot go on without.
inline void MakeFolder(const char* prefix)
{
    std::string pattern =
        (std::filesystem::temp_directory_path() / (std::string(prefix) + "XXXXXX"));
    if (::mkdtemp(pattern.data()) == nullptr)
        std::abort();
    Folder() = pattern;
}

inline bool WriteFile(const std::string& name, const std::uint8_t* data, std::size_t size)
{
    std::FILE* f = std::fopen(name.c_str(), "wb");
    if (f == nullptr)
        return false;
    const bool ok = size == 0 || std::fwrite(data, 1, size, f) == size;
    return std::fclose(f) == 0 && ok;
}

}  // namespace fuzz
