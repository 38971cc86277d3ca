// The editor's own load of an untrusted file, on arbitrary bytes: the decoder runs in a child
// process, and whatever the child does (crash, hang, run out of memory, report nonsense), the
// load either gives an image of a size the model can hold or fails with an empty image and a
// reason. Both decoders are driven: FreeImage, and the path without it. The first byte picks
// the file's extension, since some formats are known only by it.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "FuzzFiles.h"
#include "core/BmpHdr.h"
#include "io/FileStatus.h"
#include "io/IsolatedLoad.h"

namespace {

void LoadChecked(const std::string& name, lumivex::TLoadPath path)
{
    lumivex::TLoadLimits limits;
    // Tight budgets: a declared size beyond a few megapixels is refused for memory, and a
    // decoder that stalls is stopped within seconds instead of the editor's minutes.
    limits.HeaderSeconds = 2.0;
    limits.PixelBaseSeconds = 3.0;
    limits.PixelSecondsPerMegapixel = 1.0;
    limits.AvailableBytes = std::int64_t{64} << 20;
    limits.MemoryBaseBytes = std::int64_t{256} << 20;
    lumivex::TBmpHdr image;
    lumivex::TImageInfo info;
    if (lumivex::LoadImageFile(name, &image, info, path, limits)) {
        if (!lumivex::IsValidImageSize(image.Width(), image.Height()) ||
            image.Pixels.size() != static_cast<std::size_t>(image.Height()))
            __builtin_trap();
        for (const auto& row : image.Pixels)
            if (row.size() != static_cast<std::size_t>(image.Width()))
                __builtin_trap();
    } else if (!image.IsEmpty() || lumivex::LastFileStatus().Message.empty()) {
        __builtin_trap();
    }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    fuzz::MakeFolder("lumivex-fuzzload-");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size > (1u << 20))
        return 0;
    static const char* const Extensions[] = {".bmp", ".jpg", ".png", ".tif", ".exr",
                                             ".hdr", ".pfm", ".tga", ".psd", ".bin"};
    const char* ext = Extensions[size == 0 ? 0 : data[0] % std::size(Extensions)];
    const std::string name = fuzz::Folder() + "/in" + ext;
    if (!fuzz::WriteFile(name, data, size))
        std::abort();
    LoadChecked(name, lumivex::TLoadPath::lpAuto);
    LoadChecked(name, lumivex::TLoadPath::lpPlatform);
    std::remove(name.c_str());
    return 0;
}
