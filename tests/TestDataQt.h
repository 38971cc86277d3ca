#pragma once

// Test data for the QtTest executables, which do not link GoogleTest: a missing file stops the
// run at once rather than failing every check after it.

#include <QtGlobal>
#include <filesystem>
#include <string>

namespace lumivex::test {

inline std::string DataFile(const char* relative)
{
    const std::string path = std::string(LUMIVEX_TEST_DATA_DIR) + "/" + relative;
    if (!std::filesystem::exists(path))
        qFatal("test data file missing: %s", path.c_str());
    return path;
}

}  // namespace lumivex::test
