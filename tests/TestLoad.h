#pragma once

#include <gtest/gtest.h>

#include <string>

#include "TestData.h"
#include "core/BmpHdr.h"
#include "io/FileStatus.h"
#include "io/IsolatedLoad.h"

namespace lumivex::test {

/// A test image through the normal load path; fails the test, naming the reason, when it does
/// not load.
inline TBmpHdr LoadTestImage(const std::string& relative)
{
    TBmpHdr image;
    TImageInfo info;
    EXPECT_TRUE(LoadImageFile(TestDataPath(relative), &image, info))
        << relative << ": " << LastFileStatus().Message;
    return image;
}

}  // namespace lumivex::test
