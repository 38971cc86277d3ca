#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace lumivex::test {

/// Path of a file under tests/data; fails the calling test loudly when the file is missing, so a
/// forgotten copy never turns into a silently skipped check.
inline std::string TestDataPath(const std::string& relative)
{
    const std::filesystem::path path = std::filesystem::path(LUMIVEX_TEST_DATA_DIR) / relative;
    if (!std::filesystem::exists(path))
        ADD_FAILURE() << "test data file missing: " << path;
    return path.string();
}

inline std::vector<unsigned char> ReadTestFile(const std::string& relative)
{
    std::ifstream in(TestDataPath(relative), std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

/// The bytes of any file; empty when it cannot be read.
inline std::vector<std::uint8_t> ReadBytes(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline void WriteBytes(const std::string& path, const std::vector<std::uint8_t>& bytes)
{
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
}

/// A fresh, empty folder for files a test writes; removed when the object goes.
class TTempDir {
public:
    TTempDir()
    {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "lumivex-test-XXXXXX").string();
        if (mkdtemp(pattern.data()) == nullptr)
            ADD_FAILURE() << "cannot create a temporary folder";
        m_path = pattern;
    }
    ~TTempDir()
    {
        std::error_code ignored;
        std::filesystem::remove_all(m_path, ignored);
    }
    TTempDir(const TTempDir&) = delete;
    TTempDir& operator=(const TTempDir&) = delete;

    std::string File(const std::string& name) const { return (m_path / name).string(); }
    const std::filesystem::path& Path() const { return m_path; }

private:
    std::filesystem::path m_path;
};

}  // namespace lumivex::test
