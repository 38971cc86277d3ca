#include "io/IsolatedLoad.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <memory>
#include <new>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "core/Parallel.h"
#include "core/Progress.h"
#include "core/RowMemory.h"
#include "io/FileStatus.h"
#include "io/FreeImageApi.h"
#include "io/PlatformHdr.h"
#include "io/RadianceHdr.h"

namespace lumivex {
namespace {

#if defined(__SANITIZE_ADDRESS__)
// The address sanitizer reserves terabytes of address space: an address-space limit would make
// every allocation of the child fail.
constexpr bool LimitAddressSpace = false;
#else
constexpr bool LimitAddressSpace = true;
#endif

enum TPhase : std::uint32_t {
    phHeader = 0,
    phDecoding = 1,
    phConverting = 2,
    phReady = 3,  // decoded: the parent may read the child's bitmap directly
    phDone = 4,
};
// The parent's answer at phReady.
enum TRelease : std::uint32_t { rlWaiting = 0, rlRead = 1, rlCopy = 2 };

// Lives in a shared anonymous mapping: the child writes it, the parent reads it while polling.
struct TControl {
    std::atomic<std::uint32_t> Phase;
    std::atomic<std::uint32_t> RowsDone;
    std::int32_t Width;  // declared size, valid from phDecoding on (0 when unknown)
    std::int32_t Height;
    // The result, valid at phDone.
    std::int32_t Ok;
    std::int32_t Code;
    std::int32_t FinalWidth;
    std::int32_t FinalHeight;
    std::int32_t Layout;  // TFreeLayout of the raw scan lines in the pixel memory
    std::int64_t LineBytes;
    std::uint64_t LineAddress;  // at phReady: the bottom row of the child's lines
    std::int64_t Pitch;         // from a row to the one above it, of either sign
    std::atomic<std::uint32_t> Release;
    std::int32_t Type;
    std::int32_t Transparent;
    std::int32_t Bpp;
    double DpcmX;
    double DpcmY;
    char Message[512];
};
static_assert(std::atomic<std::uint32_t>::is_always_lock_free,
              "shared counters need lock-free atomics");

class TSharedControl {
public:
    TSharedControl()
    {
        void* p = ::mmap(nullptr, sizeof(TControl), PROT_READ | PROT_WRITE,
                         MAP_SHARED | MAP_ANONYMOUS, -1, 0);
        if (p != MAP_FAILED)
            m_control = new (p) TControl{};
    }
    ~TSharedControl()
    {
        if (m_control != nullptr)
            ::munmap(m_control, sizeof(TControl));
    }
    TSharedControl(const TSharedControl&) = delete;
    TSharedControl& operator=(const TSharedControl&) = delete;
    TControl* operator->() const { return m_control; }
    explicit operator bool() const { return m_control != nullptr; }

private:
    TControl* m_control = nullptr;
};

class TFd {
public:
    explicit TFd(int fd) : m_fd(fd) {}
    ~TFd()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    TFd(const TFd&) = delete;
    TFd& operator=(const TFd&) = delete;
    int Get() const { return m_fd; }

private:
    int m_fd;
};

class TMapping {
public:
    // Both views are populated at once: a fault for every 4 KiB of shared memory costs more than
    // the copy into it, most of all on virtual machines.
    TMapping(int fd, std::size_t size, int protection) : m_size(size)
    {
        if (size == 0)
            return;
        void* p = ::mmap(nullptr, size, protection, MAP_SHARED | MAP_POPULATE, fd, 0);
        if (p != MAP_FAILED)
            m_data = static_cast<std::uint8_t*>(p);
    }
    ~TMapping()
    {
        if (m_data != nullptr)
            ::munmap(m_data, m_size);
    }
    TMapping(const TMapping&) = delete;
    TMapping& operator=(const TMapping&) = delete;
    std::uint8_t* Line(std::int32_t y, std::size_t lineBytes) const
    {
        return m_data + static_cast<std::size_t>(y) * lineBytes;
    }
    bool IsValid() const { return m_data != nullptr; }

private:
    std::uint8_t* m_data = nullptr;
    std::size_t m_size;
};

std::size_t LayoutBytes(TFreeLayout layout)
{
    switch (layout) {
        case TFreeLayout::flBitmap24:
            return 3;
        case TFreeLayout::flBitmap32:
        case TFreeLayout::flFloat:
        case TFreeLayout::flRgbe:
            return 4;
        case TFreeLayout::flRGB16:
            return 6;
        case TFreeLayout::flRGBA16:
            return 8;
        case TFreeLayout::flRGBF:
            return 12;
        case TFreeLayout::flRGBAF:
            return 16;
        case TFreeLayout::flNone:
            break;
    }
    return 0;
}

std::string TooLargeMessage(std::int64_t width, std::int64_t height)
{
    if (width <= 0 || height <= 0)
        return "the file declares an empty image";
    return "image too large: " + std::to_string(width) + " x " + std::to_string(height) +
           " (at most 65535 x 65535)";
}

// What the system can still give: free and reclaimable memory plus free swap, from
// /proc/meminfo; -1 when it cannot be read (then nothing is refused for it).
std::int64_t SystemAvailableBytes()
{
    std::FILE* f = std::fopen("/proc/meminfo", "r");
    if (f == nullptr)
        return -1;
    std::int64_t available = -1;
    std::int64_t swap = 0;
    char line[256];
    while (std::fgets(line, sizeof line, f) != nullptr) {
        long long kb = 0;
        if (std::sscanf(line, "MemAvailable: %lld kB", &kb) == 1)
            available = kb * 1024;
        else if (std::sscanf(line, "SwapFree: %lld kB", &kb) == 1)
            swap = kb * 1024;
    }
    std::fclose(f);
    return available < 0 ? -1 : available + swap;
}

// Refuses a declared size whose float image would not fit in the memory left.
bool FitsInMemory(std::int64_t width, std::int64_t height, const TLoadLimits& limits)
{
    const std::int64_t available =
        limits.AvailableBytes >= 0 ? limits.AvailableBytes : SystemAvailableBytes();
    const std::int64_t needed = width * height * static_cast<std::int64_t>(sizeof(TColorHdr));
    if (available < 0 || needed <= available)
        return true;
    const auto mb = [](std::int64_t bytes) { return std::to_string((bytes + 999999) / 1000000); };
    SetFileStatus(TFileErrorCode::feOutOfMemory,
                  "not enough memory for a " + std::to_string(width) + " x " +
                      std::to_string(height) + " image (" + mb(needed) + " MB needed, " +
                      mb(available) + " MB free)");
    return false;
}

// ---------------------------------------------------------------------------------------------
// The child

std::int64_t CurrentAddressSpace()
{
    long pages = 0;
    if (std::FILE* f = std::fopen("/proc/self/statm", "r")) {
        if (std::fscanf(f, "%ld", &pages) != 1)
            pages = 0;
        std::fclose(f);
    }
    return static_cast<std::int64_t>(pages) * ::sysconf(_SC_PAGESIZE);
}

void LimitMemory(std::int64_t extraBytes)
{
    if (!LimitAddressSpace)
        return;
    rlimit limit{};
    if (::getrlimit(RLIMIT_AS, &limit) != 0)
        return;
    const auto wanted = static_cast<rlim_t>(CurrentAddressSpace() + extraBytes);
    // Only the soft limit moves, so the child can widen it again once the header is known.
    limit.rlim_cur = limit.rlim_max == RLIM_INFINITY ? wanted : std::min(wanted, limit.rlim_max);
    ::setrlimit(RLIMIT_AS, &limit);
}

class TChild {
    // The resolution our own decoders report: 72 dpi, as dots per centimetre.
    static constexpr double PlatformDpcm = 72.0 / 2.54;

public:
    TChild(TControl& control, int pixelFd, const TLoadLimits& limits)
        : m_control(control), m_pixelFd(pixelFd), m_limits(limits)
    {
    }

    // Accepts the declared size: the parent extends its deadline when it sees phDecoding.
    bool OnHeader(std::int64_t width, std::int64_t height)
    {
        if (width != 0 && !IsValidImageSize(width, height)) {
            SetFileStatus(TFileErrorCode::feTooLarge, TooLargeMessage(width, height));
            return false;
        }
        if (width != 0 && !FitsInMemory(width, height, m_limits))
            return false;
        m_control.Width = static_cast<std::int32_t>(width);
        m_control.Height = static_cast<std::int32_t>(height);
        LimitMemory(m_limits.MemoryBaseBytes + width * height * m_limits.MemoryBytesPerPixel);
        m_control.Phase.store(phDecoding, std::memory_order_release);
        return true;
    }

    // A large decode's buffers are faulted in with the page kind that is cheaper here, which a
    // child forked before this process faulted in any fresh memory has yet to find out. The
    // measured pieces are freed for the decoder to take, so they are sized as its smallest
    // bitmap, 8-bit RGB.
    static void PreparePages(std::int64_t width, std::int64_t height)
    {
        constexpr std::int64_t MeasuredPixels = std::int64_t{2} << 20;
        if (width * height >= MeasuredPixels)
            MeasureFreshPages(static_cast<std::size_t>(width * height) * 3);
    }

    // Sizes the shared pixel memory for raw scan lines, top row first. Raw lines are smaller
    // than float pixels, and the parent converts them on all cores straight into its image.
    bool OpenLines(std::int32_t width, std::int32_t height, TFreeLayout layout)
    {
        if (!MapLines(width, height, layout))
            return false;
        m_control.Phase.store(phConverting, std::memory_order_release);
        return true;
    }

    bool MapLines(std::int32_t width, std::int32_t height, TFreeLayout layout)
    {
        if (!IsValidImageSize(width, height)) {
            SetFileStatus(TFileErrorCode::feTooLarge, TooLargeMessage(width, height));
            return false;
        }
        if (!FitsInMemory(width, height, m_limits))
            return false;
        const std::size_t lineBytes = static_cast<std::size_t>(width) * LayoutBytes(layout);
        const std::size_t bytes = lineBytes * static_cast<std::size_t>(height);
        if (::ftruncate(m_pixelFd, static_cast<off_t>(bytes)) != 0) {
            SetFileStatus(TFileErrorCode::feOutOfMemory, "not enough memory for the image");
            return false;
        }
        m_lines.emplace(m_pixelFd, bytes, PROT_READ | PROT_WRITE);
        if (!m_lines->IsValid()) {
            SetFileStatus(TFileErrorCode::feOutOfMemory, "not enough memory for the image");
            return false;
        }
        m_lineBytes = lineBytes;
        m_control.FinalWidth = width;
        m_control.FinalHeight = height;
        m_control.Layout = static_cast<std::int32_t>(layout);
        m_control.LineBytes = static_cast<std::int64_t>(lineBytes);
        return true;
    }

    void PutLine(std::int32_t y, const std::uint8_t* line)
    {
        std::memcpy(m_lines->Line(y, m_lineBytes), line, m_lineBytes);
        m_control.RowsDone.fetch_add(1, std::memory_order_relaxed);
    }

    bool DecodeFreeImage(const std::string& fileName)
    {
        // An EXR decodes its blocks of lines on as many cores as the editor uses.
        SetExrDecoderThreads(ThreadCount());
        if (FreeImageFormatOf(fileName) == FIF_HDR) {
            TRadianceReader radiance;
            if (radiance.Open(fileName))
                return DecodeRadianceInPlace(radiance);
        }
        TBmpFree free;
        const auto onHeader = [this](int w, int h) {
            if (!OnHeader(w, h))
                return false;
            PreparePages(w, h);
            return true;
        };
        if (!free.LoadFromFile(fileName, 0, onHeader))
            return LastFileStatus().Code != TFileErrorCode::feTooLarge && IsBmpFile(fileName) &&
                   DecodeBmpFallback(fileName);
        const int type = free.GetImageType();
        const int bpp = free.GetBPP();  // as stored, before any conversion for reading
        const TFreeLayout layout = PrepareForReading(free);
        if (layout == TFreeLayout::flNone)
            return false;
        const int width = free.GetWidth();
        const int height = free.GetHeight();
        if (!IsValidImageSize(width, height)) {
            SetFileStatus(TFileErrorCode::feTooLarge, TooLargeMessage(width, height));
            return false;
        }
        Describe(bpp, type, free.IsTransparent(), free.GetDpcmX(), free.GetDpcmY());
        return OfferLines(width, height, layout,
                          [&](std::int32_t y) { return free.GetScanLine(height - 1 - y); });
    }

    bool DecodeBmpFallback(const std::string& fileName)
    {
        TBitmap bitmap;
        bool transparent = false;
        if (!LoadBmpFallback(fileName, bitmap, transparent))
            return false;
        const bool alpha = bitmap.PixelFormat() == TPixelFormat::pf32bit;
        if (m_control.Phase.load() < phDecoding && !OnHeader(bitmap.Width(), bitmap.Height()))
            return false;
        if (!OpenLines(bitmap.Width(), bitmap.Height(),
                       alpha ? TFreeLayout::flBitmap32 : TFreeLayout::flBitmap24))
            return false;
        for (std::int32_t y = 0; y < bitmap.Height(); ++y)
            PutLine(y, bitmap.ScanLine(y));
        Describe(alpha ? 32 : 24, FIT_BITMAP, transparent, PlatformDpcm, PlatformDpcm);
        return true;
    }

    bool DecodePlatform(const std::string& fileName)
    {
        std::int32_t width = 0;
        std::int32_t height = 0;
        if (!ReadPlatformHeader(fileName, width, height) || !OnHeader(width, height))
            return false;
        if (IsJpegFileName(fileName))
            return DecodeJpegInPlace(fileName, width, height);
        PreparePages(width, height);
        TBitmap bitmap;
        if (!LoadPlatformBitmap(fileName, bitmap))
            return false;
        Describe(bitmap.BytesPerPixel() * 8, FIT_BITMAP, false, PlatformDpcm, PlatformDpcm);
        // The platform path imports every bitmap as opaque: the alpha byte is dropped here.
        bitmap.SetPixelFormat(TPixelFormat::pf24bit);
        return OfferLines(bitmap.Width(), bitmap.Height(), TFreeLayout::flBitmap24,
                          [&](std::int32_t y) { return bitmap.ScanLine(y); });
    }

private:
    // A photograph decodes straight into the shared memory: the parent maps those pages as they
    // are, so no byte of it is copied, and no page is first touched twice.
    bool DecodeJpegInPlace(const std::string& fileName, std::int32_t width, std::int32_t height)
    {
        if (!MapLines(width, height, TFreeLayout::flBitmap24))
            return false;
        std::uint8_t* const first = m_lines->Line(0, m_lineBytes);
        TBitmap bitmap =
            TBitmap::OnBytes(width, height, TPixelFormat::pf24bit, first, [](std::uint8_t*) {});
        if (!LoadPlatformBitmap(fileName, bitmap))
            return false;
        if (bitmap.Width() != width || bitmap.Height() != height || bitmap.ScanLine(0) != first) {
            SetFileStatus(TFileErrorCode::feCorrupt, "the image does not have its declared size");
            return false;
        }
        Describe(24, FIT_BITMAP, false, PlatformDpcm, PlatformDpcm);
        m_control.RowsDone.store(static_cast<std::uint32_t>(height), std::memory_order_relaxed);
        return true;
    }

    // Our Radiance reader puts the RGBE bytes of each line straight into the shared memory,
    // a third of the float bytes FreeImage's reader makes; the parent converts on all cores.
    bool DecodeRadianceInPlace(TRadianceReader& radiance)
    {
        const std::int32_t width = radiance.Width();
        const std::int32_t height = radiance.Height();
        if (!OnHeader(width, height) || !MapLines(width, height, TFreeLayout::flRgbe))
            return false;
        const bool ok = radiance.ReadLines(m_lines->Line(0, m_lineBytes), [this](std::int32_t) {
            m_control.RowsDone.fetch_add(1, std::memory_order_relaxed);
        });
        if (!ok)
            return false;
        // What FreeImage reports for the same file: 96-bit float RGB at its default 72 dpi
        // (2835 dots per metre).
        constexpr double FreeImageDpcm = 2835 / 100.0;
        Describe(96, FIT_RGBF, false, FreeImageDpcm, FreeImageDpcm);
        return true;
    }

    // What the file held besides its pixels, for the parent's image information.
    void Describe(int bpp, int type, bool transparent, double dpcmX, double dpcmY)
    {
        m_control.Bpp = bpp;
        m_control.Type = type;
        m_control.Transparent = transparent ? 1 : 0;
        m_control.DpcmX = dpcmX;
        m_control.DpcmY = dpcmY;
    }

    // First offers the decoded lines where they are (lineOf(y): scan line y, top row first):
    // the parent reads them with process_vm_readv, which saves clearing and filling shared
    // pages. Only if that is refused are they copied there, on all cores.
    template <typename TLineOf>
    bool OfferLines(std::int32_t width, std::int32_t height, TFreeLayout layout, TLineOf lineOf)
    {
        m_control.FinalWidth = width;
        m_control.FinalHeight = height;
        m_control.Layout = static_cast<std::int32_t>(layout);
        m_control.LineBytes =
            static_cast<std::int64_t>(width) * static_cast<std::int64_t>(LayoutBytes(layout));
        // The parent walks up from the bottom row.
        m_control.LineAddress = reinterpret_cast<std::uintptr_t>(lineOf(height - 1));
        m_control.Pitch = height > 1 ? lineOf(height - 2) - lineOf(height - 1) : 0;
        m_control.Phase.store(phReady, std::memory_order_release);
        std::uint32_t answer = rlWaiting;
        while ((answer = m_control.Release.load(std::memory_order_acquire)) == rlWaiting)
            ::usleep(200);
        if (answer == rlRead)
            return true;
        if (!OpenLines(width, height, layout))
            return false;
        ParallelRows(0, height, [&](std::int64_t first, std::int64_t last) {
            for (auto y = static_cast<std::int32_t>(first); y < last; ++y)
                PutLine(y, lineOf(y));
        });
        return true;
    }

    TControl& m_control;
    int m_pixelFd;
    const TLoadLimits& m_limits;
    std::optional<TMapping> m_lines;
    std::size_t m_lineBytes = 0;
};

[[noreturn]] void RunChild(TControl& control, int pixelFd, const std::string& fileName,
                           bool freeImage, const TLoadLimits& limits)
{
    // A child left behind by a parent that died would wait for its answer forever.
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (::getppid() == 1)
        ::_exit(1);
    rlimit noCore{0, 0};
    ::setrlimit(RLIMIT_CORE, &noCore);
    LimitMemory(limits.MemoryBaseBytes);
    ClearFileStatus();
    bool ok = false;
    try {
        TChild child(control, pixelFd, limits);
        ok = freeImage ? child.DecodeFreeImage(fileName) : child.DecodePlatform(fileName);
    } catch (const std::bad_alloc&) {
        SetFileStatus(TFileErrorCode::feOutOfMemory, "not enough memory to decode the file");
    } catch (...) {
        SetFileStatus(TFileErrorCode::feCorrupt, "the decoder failed");
    }
    if (!ok)
        SetFileStatusIfClear(TFileErrorCode::feCorrupt, "the file cannot be decoded");
    control.Ok = ok ? 1 : 0;
    control.Code = static_cast<std::int32_t>(LastFileStatus().Code);
    std::snprintf(control.Message, sizeof control.Message, "%s", LastFileStatus().Message.c_str());
    control.Phase.store(phDone, std::memory_order_release);
    ::_exit(0);
}

// ---------------------------------------------------------------------------------------------
// The parent

using TClock = std::chrono::steady_clock;

double Seconds(TClock::duration d) { return std::chrono::duration<double>(d).count(); }

bool AllocateImage(TBmpHdr& image, std::int64_t width, std::int64_t height)
{
    try {
        if (image.Width() != width || image.Height() != height) {
            image.Clear();
            image.SetWidth(width);
            image.SetHeight(height);
        }
        return true;
    } catch (const std::bad_alloc&) {
        image.Clear();
        SetFileStatus(TFileErrorCode::feOutOfMemory, "not enough memory for a " +
                                                         std::to_string(width) + " x " +
                                                         std::to_string(height) + " image");
        return false;
    }
}

// The child's description of its scan lines, checked: the parent trusts no field of it.
struct TLines {
    std::int32_t Width = 0;
    std::int32_t Height = 0;
    TFreeLayout Layout = TFreeLayout::flNone;
    std::size_t LineBytes = 0;
};

// Where the child's scan lines go, top row first: the float image of a document, or a 24-bit
// bitmap for the exposure merge. Put runs on several threads at once, for different rows.
class TLineSink {
public:
    virtual ~TLineSink() = default;
    /// Sized and ready for every row; false with the status set when memory is short.
    virtual bool Allocate(std::int32_t width, std::int32_t height) = 0;
    virtual void Put(std::int32_t y, TFreeLayout layout, const std::uint8_t* line,
                     std::int32_t width) = 0;
    /// Takes the lines over as they lie in the child's pixel memory (sealed, its size checked),
    /// instead of Allocate and Put; false when this sink cannot.
    virtual bool Adopt(int /*pixelFd*/, const TLines& /*lines*/) { return false; }
    /// Learns the child's lines and what it said of the file before any of the above is called
    /// for them (Allocate may have been called before, with the declared size only).
    virtual void Choose(const TLines& /*lines*/, const TControl& /*control*/) {}
    /// What the child said of the file besides its pixels, once they are in.
    virtual void Finish(const TControl&) {}
    virtual void Clear() = 0;
};

class TImageSink final : public TLineSink {
public:
    TImageSink(TBmpHdr& image, TImageInfo& info, TFileDetails* details)
        : m_image(image), m_info(info), m_details(details)
    {
    }
    bool Allocate(std::int32_t width, std::int32_t height) override
    {
        return AllocateImage(m_image, width, height);
    }
    void Put(std::int32_t y, TFreeLayout layout, const std::uint8_t* line,
             std::int32_t width) override
    {
        ConvertFreeRow(layout, line, m_image.Pixels[static_cast<std::size_t>(y)].data(),
                       static_cast<std::size_t>(width));
    }
    void Finish(const TControl& control) override
    {
        m_info.DpiX = RoundDpi(control.DpcmX);
        m_info.DpiY = RoundDpi(control.DpcmY);
        m_info.Transparent = control.Transparent != 0;
        m_info.Kind = KindOf(control.Type, m_image);
        if (m_details != nullptr) {
            m_details->BitsPerPixel = control.Bpp;
            m_details->ImageType = control.Type;
        }
    }
    void Clear() override { m_image.Assign(nullptr); }

private:
    TBmpHdr& m_image;
    TImageInfo& m_info;
    TFileDetails* m_details;
};

// 8-bit BGR lines are the bitmap's own bytes; any other layout goes through the float row and
// is rounded to bytes, exactly as a loaded image converted afterwards would be.
class TBitmapSink final : public TLineSink {
public:
    explicit TBitmapSink(TBitmap& bitmap) : m_bitmap(bitmap) {}
    bool Allocate(std::int32_t width, std::int32_t height) override
    {
        if (m_bitmap.Width() == width && m_bitmap.Height() == height &&
            m_bitmap.PixelFormat() == TPixelFormat::pf24bit)
            return true;
        try {
            // Every line is put, on all cores, so nothing clears the bitmap first.
            m_bitmap = TBitmap();
            m_bitmap = TBitmap::Uncleared(width, height, TPixelFormat::pf24bit);
            return true;
        } catch (const std::bad_alloc&) {
            SetFileStatus(TFileErrorCode::feOutOfMemory, "not enough memory for a " +
                                                             std::to_string(width) + " x " +
                                                             std::to_string(height) + " bitmap");
            return false;
        }
    }
    void Put(std::int32_t y, TFreeLayout layout, const std::uint8_t* line,
             std::int32_t width) override
    {
        std::uint8_t* target = m_bitmap.ScanLine(y);
        if (layout == TFreeLayout::flBitmap24) {
            std::memcpy(target, line, 3 * static_cast<std::size_t>(width));
            return;
        }
        std::vector<TColorHdr> row(static_cast<std::size_t>(width));
        ConvertFreeRow(layout, line, row.data(), row.size());
        RowHdrToBytes(row.data(), row.size(), target, false);
    }
    bool Adopt(int pixelFd, const TLines& lines) override
    {
        if (lines.Layout != TFreeLayout::flBitmap24)
            return false;
        const std::size_t bytes = lines.LineBytes * static_cast<std::size_t>(lines.Height);
        void* p =
            ::mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_SHARED | MAP_POPULATE, pixelFd, 0);
        if (p == MAP_FAILED)
            return false;
        m_bitmap = TBitmap::OnBytes(lines.Width, lines.Height, TPixelFormat::pf24bit,
                                    static_cast<std::uint8_t*>(p),
                                    [bytes](std::uint8_t* q) { ::munmap(q, bytes); });
        return true;
    }
    void Clear() override { m_bitmap = TBitmap(); }

private:
    TBitmap& m_bitmap;
};

// 8-bit colour lines of a file without transparency go to the bitmap as they are, any other
// lines to the float image. The image is sized as soon as the child declares the size, while it
// decodes, unless the file is likely to end up in the bitmap.
class TImageOrBitmapSink final : public TLineSink {
public:
    TImageOrBitmapSink(TBmpHdr& image, TImageInfo& info, TBitmap& bitmap, bool bitmapLikely)
        : m_image(image, info, nullptr), m_bitmap(bitmap), m_bitmapLikely(bitmapLikely)
    {
    }
    bool Allocate(std::int32_t width, std::int32_t height) override
    {
        if (m_chosen == nullptr)
            return m_bitmapLikely || m_image.Allocate(width, height);
        return m_chosen->Allocate(width, height);
    }
    void Choose(const TLines& lines, const TControl& control) override
    {
        const bool bytes = lines.Layout == TFreeLayout::flBitmap24 && control.Transparent == 0;
        if (bytes)
            m_image.Clear();  // sized for nothing
        m_chosen = bytes ? static_cast<TLineSink*>(&m_bitmap) : &m_image;
    }
    void Put(std::int32_t y, TFreeLayout layout, const std::uint8_t* line,
             std::int32_t width) override
    {
        m_chosen->Put(y, layout, line, width);
    }
    bool Adopt(int pixelFd, const TLines& lines) override
    {
        return m_chosen->Adopt(pixelFd, lines);
    }
    void Finish(const TControl& control) override { m_image.Finish(control); }
    void Clear() override
    {
        m_image.Clear();
        m_bitmap.Clear();
    }

private:
    TImageSink m_image;
    TBitmapSink m_bitmap;
    bool m_bitmapLikely;
    TLineSink* m_chosen = nullptr;
};

// Waits for the child, extending the deadline once the header is known, and shows progress.
// Answers the child's wait status, or -1 after killing it (status already set).
int SuperviseChild(pid_t pid, TControl& control, const TLoadLimits& limits, std::int64_t fileSize,
                   TLineSink& sink, bool& reaped, bool stopAtReady)
{
    const TClock::time_point start = TClock::now();
    double deadline = limits.HeaderSeconds;
    bool sized = false;
    bool progressStarted = false;
    double expectedDecode = 1.0;
    auto sleep = std::chrono::microseconds(200);
    int status = 0;
    int result = -1;
    while (true) {
        const pid_t done = ::waitpid(pid, &status, WNOHANG);
        if (done == pid) {
            reaped = true;
            result = status;
            break;
        }
        // The answer is complete before the child has torn itself down: go on while it exits.
        const std::uint32_t now = control.Phase.load(std::memory_order_acquire);
        if (now == phDone || (stopAtReady && now == phReady)) {
            result = 0;
            break;
        }
        if (done < 0 && errno != EINTR) {
            SetFileStatus(TFileErrorCode::feCrashed, "lost the decoder process");
            break;
        }
        const std::uint32_t phase = control.Phase.load(std::memory_order_acquire);
        if (!sized && phase >= phDecoding) {
            sized = true;
            // Width 0: the format cannot read its header alone; budget by file size instead.
            const double pixels = control.Width > 0
                                      ? static_cast<double>(control.Width) * control.Height
                                      : static_cast<double>(fileSize) * 4.0;
            deadline = Seconds(TClock::now() - start) + limits.PixelBaseSeconds +
                       limits.PixelSecondsPerMegapixel * pixels / 1.0e6;
            expectedDecode = std::max(0.05, pixels * 50.0e-9);
            progressStarted = FilterProgress(psStart, 100);
            // The image's memory is cleared here while the child decodes on the other core.
            if (IsValidImageSize(control.Width, control.Height) &&
                !sink.Allocate(control.Width, control.Height)) {
                ::kill(pid, SIGKILL);
                ::waitpid(pid, &status, 0);
                reaped = true;
                break;
            }
        }
        const double elapsed = Seconds(TClock::now() - start);
        if (progressStarted) {
            std::int32_t step = 0;
            if (phase >= phConverting && control.FinalHeight > 0)
                step = 80 + static_cast<std::int32_t>(20.0 * control.RowsDone.load() /
                                                      control.FinalHeight);
            else
                step = static_cast<std::int32_t>(std::min(79.0, 80.0 * elapsed / expectedDecode));
            if (!FilterProgress(psStep, step)) {
                ::kill(pid, SIGKILL);
                ::waitpid(pid, &status, 0);
                reaped = true;
                SetFileStatus(TFileErrorCode::feCorrupt, "loading was cancelled");
                break;
            }
        }
        if (elapsed > deadline) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, &status, 0);
            reaped = true;
            char text[128];
            std::snprintf(text, sizeof text, "the decoder did not finish within %.0f s",
                          std::ceil(deadline));
            SetFileStatus(TFileErrorCode::feTimeout, text);
            break;
        }
        std::this_thread::sleep_for(sleep);
        sleep = std::min(sleep * 2, std::chrono::microseconds(5000));
    }
    if (progressStarted)
        FilterProgress(psEnd, 0);
    return result;
}

bool LinesOf(const TControl& control, TLines& lines)
{
    lines.Width = control.FinalWidth;
    lines.Height = control.FinalHeight;
    lines.Layout = static_cast<TFreeLayout>(control.Layout);
    lines.LineBytes = static_cast<std::size_t>(control.LineBytes);
    return IsValidImageSize(lines.Width, lines.Height) && LayoutBytes(lines.Layout) != 0 &&
           lines.LineBytes == static_cast<std::size_t>(lines.Width) * LayoutBytes(lines.Layout);
}

bool ConvertLines(int pixelFd, const TControl& control, TLineSink& sink)
{
    TLines l;
    const bool described = LinesOf(control, l);
    const std::int32_t width = l.Width;
    const std::int32_t height = l.Height;
    const TFreeLayout layout = l.Layout;
    const std::size_t lineBytes = l.LineBytes;
    // Sealed first: a decoder that shrank the memory under a mapping would make every read of
    // the lost pages a SIGBUS.
    struct stat st {};
    if (!described ||
        ::fcntl(pixelFd, F_ADD_SEALS, F_SEAL_SHRINK | F_SEAL_GROW | F_SEAL_SEAL) != 0 ||
        ::fstat(pixelFd, &st) != 0 ||
        static_cast<std::size_t>(st.st_size) != lineBytes * static_cast<std::size_t>(height)) {
        SetFileStatus(TFileErrorCode::feCrashed, "the decoder returned no pixels");
        return false;
    }
    sink.Choose(l, control);
    if (sink.Adopt(pixelFd, l))
        return true;
    const TMapping lines(pixelFd, lineBytes * static_cast<std::size_t>(height), PROT_READ);
    if (!lines.IsValid()) {
        SetFileStatus(TFileErrorCode::feOutOfMemory, "not enough memory for the image");
        return false;
    }
    if (!sink.Allocate(width, height))
        return false;
    ParallelRows(0, height, [&](std::int64_t first, std::int64_t last) {
        for (auto y = static_cast<std::int32_t>(first); y < last; ++y)
            sink.Put(y, layout, lines.Line(y, lineBytes), width);
    });
    return true;
}

// Turns the child's end into a status: false (with the reason) unless it answered in full or is
// waiting with its bitmap.
bool CheckChild(int status, const TControl& control)
{
    if (status == -1)
        return false;
    if (WIFSIGNALED(status)) {
        const int sig = WTERMSIG(status);
        SetFileStatus(sig == SIGKILL ? TFileErrorCode::feOutOfMemory : TFileErrorCode::feCrashed,
                      sig == SIGKILL ? std::string("the decoder ran out of memory")
                                     : "the decoder crashed on this file (signal " +
                                           std::to_string(sig) + ")");
        return false;
    }
    const std::uint32_t phase = control.Phase.load(std::memory_order_acquire);
    if (phase == phReady)
        return true;
    if (phase != phDone) {
        SetFileStatus(TFileErrorCode::feCrashed, "the decoder stopped without an answer");
        return false;
    }
    if (control.Ok == 0) {
        SetFileStatus(static_cast<TFileErrorCode>(control.Code), control.Message);
        return false;
    }
    return true;
}

// Reads the waiting child's bitmap straight from its memory, converting on all cores.
bool ReadChildLines(pid_t pid, const TControl& control, TLineSink& sink)
{
    TLines l;
    // Lines may run either way in the child's memory, but must not overlap.
    const std::int64_t pitch = control.Pitch;
    if (!LinesOf(control, l) ||
        (l.Height > 1 && (pitch == std::numeric_limits<std::int64_t>::min() ||
                          static_cast<std::size_t>(pitch < 0 ? -pitch : pitch) < l.LineBytes)))
        return false;
    const std::int32_t width = l.Width;
    const std::int32_t height = l.Height;
    const TFreeLayout layout = l.Layout;
    const std::size_t lineBytes = l.LineBytes;
    sink.Choose(l, control);
    if (!sink.Allocate(width, height))
        return false;
    constexpr std::int64_t LinesPerRead = 64;
    std::atomic<bool> failed{false};
    try {
        ParallelRows(0, height, [&](std::int64_t first, std::int64_t last) {
            std::vector<std::uint8_t> buffer(static_cast<std::size_t>(LinesPerRead) * lineBytes);
            iovec remote[LinesPerRead];
            for (std::int64_t y0 = first; y0 < last && !failed.load(); y0 += LinesPerRead) {
                const std::int64_t n = std::min(LinesPerRead, last - y0);
                for (std::int64_t i = 0; i < n; ++i) {
                    const std::int64_t line = height - 1 - (y0 + i);  // bottom-up scan lines
                    // Unsigned arithmetic: a hostile pitch wraps instead of overflowing.
                    remote[i].iov_base = reinterpret_cast<void*>(
                        control.LineAddress +
                        static_cast<std::uint64_t>(line) * static_cast<std::uint64_t>(pitch));
                    remote[i].iov_len = lineBytes;
                }
                iovec local{buffer.data(), static_cast<std::size_t>(n) * lineBytes};
                const ssize_t got =
                    ::process_vm_readv(pid, &local, 1, remote, static_cast<unsigned long>(n), 0);
                if (got != static_cast<ssize_t>(local.iov_len)) {
                    failed.store(true);
                    return;
                }
                for (std::int64_t i = 0; i < n; ++i)
                    sink.Put(static_cast<std::int32_t>(y0 + i), layout,
                             buffer.data() + static_cast<std::size_t>(i) * lineBytes, width);
            }
        });
    } catch (const std::bad_alloc&) {
        return false;
    }
    return !failed.load();
}

// One decode in a child process: started when constructed, taken over by Finish. Between the
// two the caller may do other work, such as starting the next decode.
class TChildDecode {
public:
    TChildDecode(const std::string& fileName, bool freeImage, const TLoadLimits& limits,
                 std::int64_t fileSize)
        : m_pixelFd(::memfd_create("lumivex-pixels", MFD_CLOEXEC | MFD_ALLOW_SEALING)),
          m_limits(limits),
          m_fileSize(fileSize)
    {
        if (!m_control || m_pixelFd.Get() < 0) {
            SetFileStatus(TFileErrorCode::feOutOfMemory, "cannot set up the decoder process");
            return;
        }
        std::fflush(nullptr);  // nothing buffered may be written twice
        const TExrPoolStopped poolStopped;
        const pid_t pid = ::fork();
        if (pid < 0) {
            SetFileStatus(TFileErrorCode::feOutOfMemory,
                          std::string("cannot start the decoder process: ") + std::strerror(errno));
            return;
        }
        if (pid == 0)
            RunChild(*m_control.operator->(), m_pixelFd.Get(), fileName, freeImage, limits);
        m_pid = pid;
    }
    // Reaped on every way out. After a complete answer the child only exits; a decode whose
    // answer is not wanted (never finished, or failed) is stopped first.
    ~TChildDecode()
    {
        if (m_pid <= 0 || m_reaped)
            return;
        if (!m_succeeded)
            ::kill(m_pid, SIGKILL);
        ::waitpid(m_pid, nullptr, 0);
    }
    TChildDecode(const TChildDecode&) = delete;
    TChildDecode& operator=(const TChildDecode&) = delete;

    /// False with the status set when the child could not be started.
    bool Started() const { return m_pid > 0; }

    /// Waits for the answer (with progress and the time limits) and puts the pixels into sink.
    bool Finish(TLineSink& sink)
    {
        if (!Started())
            return false;
        m_succeeded = Take(sink);
        return m_succeeded;
    }

private:
    bool Take(TLineSink& sink)
    {
        TControl& c = *m_control.operator->();
        if (!CheckChild(SuperviseChild(m_pid, c, m_limits, m_fileSize, sink, m_reaped, true), c))
            return false;
        if (c.Phase.load(std::memory_order_acquire) == phReady) {
            if (m_limits.ReadChildMemory && ReadChildLines(m_pid, c, sink)) {
                c.Release.store(rlRead, std::memory_order_release);
            } else {
                // Reading another process's memory can be forbidden (ptrace policy): ask for a
                // copy.
                c.Release.store(rlCopy, std::memory_order_release);
                if (!CheckChild(
                        SuperviseChild(m_pid, c, m_limits, m_fileSize, sink, m_reaped, false), c) ||
                    !ConvertLines(m_pixelFd.Get(), c, sink))
                    return false;
            }
        } else if (!ConvertLines(m_pixelFd.Get(), c, sink)) {
            return false;
        }
        sink.Finish(c);
        return true;
    }

    TSharedControl m_control;
    TFd m_pixelFd;
    TLoadLimits m_limits;
    std::int64_t m_fileSize;
    pid_t m_pid = -1;
    bool m_reaped = false;
    bool m_succeeded = false;
};

// The checks every load makes before a decoder sees the file; tells whether FreeImage decodes it.
bool CheckSource(const std::string& fileName, TLoadPath path, bool& freeImage,
                 std::int64_t& fileSize)
{
    struct stat st {};
    if (::stat(fileName.c_str(), &st) != 0) {
        SetFileStatus(TFileErrorCode::feCannotOpen, std::strerror(errno));
        return false;
    }
    if (!S_ISREG(st.st_mode)) {
        SetFileStatus(TFileErrorCode::feCannotOpen, "not a regular file");
        return false;
    }
    if (::access(fileName.c_str(), R_OK) != 0) {
        SetFileStatus(TFileErrorCode::feCannotOpen, std::strerror(errno));
        return false;
    }
    freeImage =
        path == TLoadPath::lpFreeImage || (path == TLoadPath::lpAuto && IsFreeImageAvailable());
    if (freeImage && !IsFreeImageAvailable()) {
        SetFileStatus(TFileErrorCode::feUnknownFormat, "FreeImage is not available");
        return false;
    }
    fileSize = st.st_size;
    return true;
}

}  // namespace

namespace {

// The checks, then the decode: in a child process, its lines going to the sink, or in this
// process straight into the image. The sink is cleared on failure.
bool LoadThrough(const std::string& fileName, TBmpHdr& image, TImageInfo& info, TLoadPath path,
                 const TLoadLimits& limits, TLineSink& sink)
{
    ClearFileStatus();
    image.Assign(nullptr);
    bool freeImage = false;
    std::int64_t fileSize = 0;
    if (!CheckSource(fileName, path, freeImage, fileSize))
        return false;
    bool ok = false;
    if (!limits.Isolate)
        ok = freeImage ? LoadBmpHdr(fileName, &image, info)
                       : LoadPlatformHdr(fileName, &image, info);
    else
        ok = TChildDecode(fileName, freeImage, limits, fileSize).Finish(sink);
    if (!ok)
        sink.Clear();
    return ok;
}

// A JPEG start of image: such files decode to 8-bit colour lines nearly always.
bool StartsLikeJpeg(const std::string& fileName)
{
    std::uint8_t head[3] = {};
    std::FILE* file = std::fopen(fileName.c_str(), "rb");
    if (file == nullptr)
        return false;
    const std::size_t got = std::fread(head, 1, sizeof head, file);
    std::fclose(file);
    return got == sizeof head && head[0] == 0xFF && head[1] == 0xD8 && head[2] == 0xFF;
}

}  // namespace

bool LoadImageFile(const std::string& fileName, TBmpHdr* image, TImageInfo& info, TLoadPath path,
                   const TLoadLimits& limits, TFileDetails* details)
{
    if (image == nullptr)
        return false;
    TImageSink sink(*image, info, details);
    return LoadThrough(fileName, *image, info, path, limits, sink);
}

bool LoadImageOrBitmap(const std::string& fileName, TBmpHdr* image, TBitmap& bitmap,
                       TImageInfo& info, TLoadPath path, const TLoadLimits& limits)
{
    bitmap = TBitmap();
    if (image == nullptr)
        return false;
    TImageOrBitmapSink sink(*image, info, bitmap, limits.Isolate && StartsLikeJpeg(fileName));
    return LoadThrough(fileName, *image, info, path, limits, sink);
}

struct TBitmapLoad::TState {
    std::string FileName;
    TLoadPath Path;
    TLoadLimits Limits;
    std::optional<TFileStatus> Failure;  // why the decode did not start
    std::unique_ptr<TChildDecode> Decode;
};

TBitmapLoad::TBitmapLoad(const std::string& fileName, TLoadPath path, const TLoadLimits& limits)
    : m_state(std::make_unique<TState>(TState{fileName, path, limits, {}, {}}))
{
    if (!limits.Isolate)
        return;  // decoded by Finish, in this process
    ClearFileStatus();
    bool freeImage = false;
    std::int64_t fileSize = 0;
    if (CheckSource(fileName, path, freeImage, fileSize)) {
        m_state->Decode = std::make_unique<TChildDecode>(fileName, freeImage, limits, fileSize);
        if (m_state->Decode->Started())
            return;
    }
    m_state->Failure = LastFileStatus();
}

TBitmapLoad::~TBitmapLoad() = default;

bool TBitmapLoad::Finish(TBitmap& bitmap)
{
    ClearFileStatus();
    bitmap = TBitmap();
    TBitmapSink sink(bitmap);
    TState& s = *m_state;
    if (s.Failure) {
        SetFileStatus(s.Failure->Code, s.Failure->Message);
        return false;
    }
    if (!s.Limits.Isolate) {
        TBmpHdr image;
        TImageInfo info;
        if (!LoadImageFile(s.FileName, &image, info, s.Path, s.Limits) ||
            !sink.Allocate(image.Width(), image.Height()))
            return false;
        ParallelRows(0, image.Height(), [&](std::int64_t first, std::int64_t last) {
            for (std::int64_t y = first; y < last; ++y) {
                const TRawHdr& row = image.Pixels[static_cast<std::size_t>(y)];
                RowHdrToBytes(row.data(), row.size(), bitmap.ScanLine(static_cast<std::int32_t>(y)),
                              false);
            }
        });
        return true;
    }
    if (s.Decode == nullptr) {
        SetFileStatus(TFileErrorCode::feCorrupt, "the load was already finished");
        return false;
    }
    const bool ok = s.Decode->Finish(sink);
    s.Decode.reset();
    if (!ok)
        sink.Clear();
    return ok;
}

bool LoadBitmapFile(const std::string& fileName, TBitmap& bitmap, TLoadPath path,
                    const TLoadLimits& limits)
{
    return TBitmapLoad(fileName, path, limits).Finish(bitmap);
}

}  // namespace lumivex
