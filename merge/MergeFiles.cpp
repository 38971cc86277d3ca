#include "merge/MergeFiles.h"

#include <algorithm>
#include <cctype>
#include <utility>

#include "io/FileStatus.h"

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
    // The loader hands 8-bit photographs over as the bitmap itself; other files are rounded to
    // bytes on the way, so no float copy of a photograph is ever held beside the list.
    return LoadBitmapFile(fileName, bitmap,
                          IsMergeJpegName(fileName) ? TLoadPath::lpPlatform : path);
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
