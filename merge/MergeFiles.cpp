#include "merge/MergeFiles.h"

#include <algorithm>
#include <cctype>
#include <new>
#include <utility>

#include "core/BmpHdr.h"
#include "core/Parallel.h"
#include "io/FileStatus.h"
#include "io/FreeHdr.h"

namespace lumivex {
namespace {

std::string SizeText(std::int32_t width, std::int32_t height)
{
    return std::to_string(width) + " x " + std::to_string(height);
}

}  // namespace

bool IsMergeJpegName(const std::string& fileName)
{
    const std::size_t slash = fileName.find_last_of('/');
    const std::size_t dot = fileName.find_last_of('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash))
        return false;
    std::string ext = fileName.substr(dot);
    std::transform(ext.begin(), ext.end(), ext.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return ext == ".jpg";
}

bool LoadMergeSource(const std::string& fileName, TBitmap& bitmap, TLoadPath path)
{
    bitmap = TBitmap();
    TBmpHdr image;
    TImageInfo info;
    if (!LoadImageFile(fileName, &image, info,
                       IsMergeJpegName(fileName) ? TLoadPath::lpPlatform : path))
        return false;
    try {
        bitmap = TBitmap(image.Width(), image.Height(), TPixelFormat::pf24bit);
    } catch (const std::bad_alloc&) {
        SetFileStatus(TFileErrorCode::feOutOfMemory, "not enough memory for the bitmap");
        return false;
    }
    const auto width = static_cast<std::size_t>(image.Width());
    ParallelRows(0, image.Height(), [&](std::int64_t first, std::int64_t last) {
        for (std::int64_t y = first; y < last; ++y) {
            const auto row = static_cast<std::size_t>(y);
            std::uint8_t* bgr = bitmap.ScanLine(static_cast<std::int32_t>(y));
            for (std::size_t x = 0; x < width; ++x)
                ColorHdrToBGR(image.Pixels[row][x], bgr + 3 * x);
            // Each float row goes as soon as it is converted, so the load never holds a full
            // float image beside the whole bitmap.
            TRawHdr().swap(image.Pixels[row]);
        }
    });
    return true;
}

bool AddMergeFiles(TBmpList& list, const std::vector<std::string>& files, TLoadPath path,
                   std::size_t& failed, const std::function<void(std::size_t index)>& onFile)
{
    for (std::size_t i = 0; i < files.size(); ++i) {
        if (onFile)
            onFile(i);
        failed = i;
        TBitmap bitmap;
        if (!LoadMergeSource(files[i], bitmap, path))
            return false;
        const std::int32_t before = list.Count();
        const std::int32_t width = bitmap.Width();
        const std::int32_t height = bitmap.Height();
        list.Add(std::move(bitmap), 1.0f);
        if (list.Count() == before) {
            if (list.Count() == 0) {
                SetFileStatus(TFileErrorCode::feCorrupt, "the image is empty");
                return false;
            }
            const TBitmap& first = list.Entries().front().Bitmap;
            SetFileStatus(TFileErrorCode::feUnsupportedType,
                          "the image is " + SizeText(width, height) + ", the first one " +
                              SizeText(first.Width(), first.Height()));
            return false;
        }
    }
    ClearFileStatus();
    return true;
}

}  // namespace lumivex
