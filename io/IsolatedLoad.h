#pragma once

// Untrusted files are decoded in a child process: a decoder that crashes, hangs or runs away
// with memory costs a clean load failure, never the program or the open document. The child
// reads the header first under a short time limit; once the size is known and accepted, the
// pixel decode gets a time and memory budget that grows with the declared pixel count, so a
// legitimate huge file is never cut off. The float rows come back through shared memory.

#include <cstdint>
#include <memory>
#include <string>

#include "core/BmpHdr.h"
#include "io/FreeHdr.h"
#include "platform/Bitmap.h"

namespace lumivex {

struct TLoadLimits {
    /// Time for the child to read the header, in seconds.
    double HeaderSeconds = 5.0;
    /// Time for the pixel decode: base plus a share per megapixel declared. A 24-megapixel float
    /// EXR takes about 6 s on one free core and 36 s with two busy processes per core, so the
    /// share leaves it well inside its 116 s.
    double PixelBaseSeconds = 20.0;
    double PixelSecondsPerMegapixel = 4.0;
    /// Memory the child may take beyond what it inherits: base plus bytes per declared pixel.
    std::int64_t MemoryBaseBytes = std::int64_t{1} << 30;
    std::int64_t MemoryBytesPerPixel = 96;
    /// Memory free for the image, in bytes; below 0 it is read from the system when the header
    /// is known. A declared size whose float image would not fit is refused before anything
    /// is allocated, so a small file that claims a huge image cannot drive the machine into
    /// swapping or the out-of-memory killer.
    std::int64_t AvailableBytes = -1;
    /// With false the decode runs in this process (for measuring the isolation's cost).
    bool Isolate = true;
    /// Read the child's bitmap from its memory; with false (or where the system forbids it) the
    /// child copies its scan lines into shared memory instead.
    bool ReadChildMemory = true;
};

enum class TLoadPath : std::uint8_t {
    lpAuto,       ///< FreeImage when it is available, else the platform path
    lpFreeImage,  ///< every format FreeImage reads
    lpPlatform,   ///< BMP and JPEG of our own
};

/// What the file held, beside the image: the bits per pixel and FreeImage type as stored.
struct TFileDetails {
    std::int32_t BitsPerPixel = 0;
    std::int32_t ImageType = 0;
};

/// Loads a file with the given path and limits; on failure the image is empty and
/// LastFileStatus() names the reason. Reports progress through FilterProgress when the decode
/// takes long.
bool LoadImageFile(const std::string& fileName, TBmpHdr* image, TImageInfo& info,
                   TLoadPath path = TLoadPath::lpAuto, const TLoadLimits& limits = {},
                   TFileDetails* details = nullptr);

/// A 24-bit load as LoadBitmapFile makes it, started at construction and finished by Finish:
/// the child process decodes in the meantime, so a merge can decode its next photograph on the
/// other core while it takes this one over. Progress and the time limits are counted by Finish,
/// on the calling thread. A load that is never finished is stopped when destroyed.
class TBitmapLoad {
public:
    explicit TBitmapLoad(const std::string& fileName, TLoadPath path = TLoadPath::lpAuto,
                         const TLoadLimits& limits = {});
    ~TBitmapLoad();
    TBitmapLoad(const TBitmapLoad&) = delete;
    TBitmapLoad& operator=(const TBitmapLoad&) = delete;

    /// Hands the bitmap over (once); on failure it is empty and LastFileStatus() names the
    /// reason.
    bool Finish(TBitmap& bitmap);

private:
    struct TState;
    std::unique_ptr<TState> m_state;
};

/// Loads a file to be written again in an 8-bit format: an 8-bit colour file without
/// transparency comes back as its bytes in `bitmap`, top row first, with `image` empty; any
/// other file as LoadImageFile loads it, with `bitmap` empty. Either way SaveBitmapFile or
/// SaveImageFile then writes the same file, without a float image made for 8-bit files. Without
/// Isolate in the limits it is LoadImageFile.
bool LoadImageOrBitmap(const std::string& fileName, TBmpHdr* image, TBitmap& bitmap,
                       TImageInfo& info, TLoadPath path = TLoadPath::lpAuto,
                       const TLoadLimits& limits = {});

/// Loads a file as a 24-bit bitmap, top row first, as the exposure merge takes its photographs:
/// 8-bit colour scan lines are copied as they are, any other kind of file goes through the float
/// conversion of LoadImageFile and is rounded to bytes (the same bytes as converting the loaded
/// image). No float image is made for an 8-bit file. On failure the bitmap is empty and
/// LastFileStatus() names the reason.
bool LoadBitmapFile(const std::string& fileName, TBitmap& bitmap,
                    TLoadPath path = TLoadPath::lpAuto, const TLoadLimits& limits = {});

}  // namespace lumivex
