#pragma once

// Merge sources from files, read as the merge dialog reads them: a name ending in .jpg, in any
// case, is decoded with libjpeg-turbo, any other file through the file bridge; either way the
// result is a 24-bit bitmap. Files are untrusted, so every decode runs in a child process
// (io/IsolatedLoad.h).

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

#include "io/IsolatedLoad.h"
#include "merge/MergeHdr.h"
#include "platform/Bitmap.h"

namespace lumivex {

/// True when the extension is .jpg in any case (camera files are often PHOTO.JPG).
bool IsMergeJpegName(const std::string& fileName);

/// The load path for a merge source: the platform's JPEG decoder for .jpg names, else path.
TLoadPath MergeLoadPath(const std::string& fileName, TLoadPath path);

/// Loads one source into a 24-bit bitmap: each channel clipped to 0..1, times 255, rounded half
/// to even; alpha is dropped. path chooses the bridge for files that are not .jpg. On failure
/// the bitmap is empty and LastFileStatus() says why.
bool LoadMergeSource(const std::string& fileName, TBitmap& bitmap,
                     TLoadPath path = TLoadPath::lpAuto);

/// Loads the files in order and adds each with exposure 1.0, checking by the list's count that
/// it was taken. Stops at the first file that does not load or whose size differs from the
/// first one's: answers false, failed = that file's index, LastFileStatus() the reason, and the
/// list keeps the files before it. onFile, when given, is told each index before its load.
bool AddMergeFiles(TBmpList& list, const std::vector<std::string>& files, TLoadPath path,
                   std::size_t& failed, const std::function<void(std::size_t index)>& onFile = {});

}  // namespace lumivex
