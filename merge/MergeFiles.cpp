#include "merge/MergeFiles.h"

#include <algorithm>
#include <cctype>
#include <deque>
#include <memory>
#include <utility>

#include "core/Parallel.h"
#include "io/FileStatus.h"

namespace lumivex {
namespace {

std::string SizeText(std::int32_t width, std::int32_t height)
{
    return std::to_string(width) + " x " + std::to_string(height);
}

}  // namespace

TLoadPath MergeLoadPath(const std::string& fileName, TLoadPath path)
{
    return IsMergeJpegName(fileName) ? TLoadPath::lpPlatform : path;
}

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
    return LoadBitmapFile(fileName, bitmap, MergeLoadPath(fileName, path));
}

bool AddMergeFiles(TBmpList& list, const std::vector<std::string>& files, TLoadPath path,
                   std::size_t& failed, const std::function<void(std::size_t index)>& onFile)
{
    const auto start = [&](std::size_t i) {
        return std::make_unique<TBitmapLoad>(files[i], MergeLoadPath(files[i], path));
    };
    // Each photograph decodes in its own process, one core each: while one is taken over and
    // added, as many as there are cores decode ahead, so that no core waits for the next one
    // to start. A stop here stops those decodes too.
    const auto ahead = static_cast<std::size_t>(std::max(1, ThreadCount()));
    std::deque<std::unique_ptr<TBitmapLoad>> pending;
    std::size_t started = 0;
    for (std::size_t i = 0; i < files.size(); ++i) {
        if (onFile)
            onFile(i);
        failed = i;
        for (; started < files.size() && started <= i + ahead; ++started)
            pending.push_back(start(started));
        const std::unique_ptr<TBitmapLoad> current = std::move(pending.front());
        pending.pop_front();
        TBitmap bitmap;
        if (!current->Finish(bitmap))
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
