#include "io/FreeImageApi.h"

#include <dlfcn.h>

#include <cctype>
#include <mutex>
#include <optional>

namespace lumivex {
namespace {

std::mutex g_mutex;
std::string g_libraryName = "libfreeimage.so.3";
void* g_handle = nullptr;
std::optional<TFreeImageApi> g_api;
bool g_tried = false;

thread_local std::string t_message;

// Some plugins end their text with a newline; a status is one line.
void OnFreeImageMessage(int, const char* message)
{
    t_message = message != nullptr ? message : "";
    while (!t_message.empty() && std::isspace(static_cast<unsigned char>(t_message.back())))
        t_message.pop_back();
}

template <typename T>
bool Bind(void* handle, T& target, const char* name)
{
    target = reinterpret_cast<T>(::dlsym(handle, name));
    return target != nullptr;
}

// libtiff prints "unknown tag" lines on stderr for ordinary files; FreeImage already reports
// real failures through its own message.
void SilenceLibTiff()
{
    void* tiff = ::dlopen("libtiff.so.6", RTLD_NOW | RTLD_NOLOAD);
    if (tiff == nullptr)
        return;
    using THandler = void* (*)(void*);
    THandler setError = nullptr;
    THandler setWarning = nullptr;
    if (Bind(tiff, setError, "TIFFSetErrorHandler"))
        setError(nullptr);
    if (Bind(tiff, setWarning, "TIFFSetWarningHandler"))
        setWarning(nullptr);
    ::dlclose(tiff);
}

std::optional<TFreeImageApi> LoadApi(void* h)
{
    TFreeImageApi api{};
    const bool ok =
        Bind(h, api.GetFileType, "FreeImage_GetFileType") &&
        Bind(h, api.GetFIFFromFilename, "FreeImage_GetFIFFromFilename") &&
        Bind(h, api.FIFSupportsReading, "FreeImage_FIFSupportsReading") &&
        Bind(h, api.FIFSupportsWriting, "FreeImage_FIFSupportsWriting") &&
        Bind(h, api.FIFSupportsExportType, "FreeImage_FIFSupportsExportType") &&
        Bind(h, api.FIFSupportsExportBPP, "FreeImage_FIFSupportsExportBPP") &&
        Bind(h, api.FIFSupportsNoPixels, "FreeImage_FIFSupportsNoPixels") &&
        Bind(h, api.Load, "FreeImage_Load") &&
        Bind(h, api.SaveToHandle, "FreeImage_SaveToHandle") &&
        Bind(h, api.Unload, "FreeImage_Unload") && Bind(h, api.AllocateT, "FreeImage_AllocateT") &&
        Bind(h, api.GetImageType, "FreeImage_GetImageType") &&
        Bind(h, api.GetBPP, "FreeImage_GetBPP") && Bind(h, api.GetWidth, "FreeImage_GetWidth") &&
        Bind(h, api.GetHeight, "FreeImage_GetHeight") &&
        Bind(h, api.GetScanLine, "FreeImage_GetScanLine") &&
        Bind(h, api.IsTransparent, "FreeImage_IsTransparent") &&
        Bind(h, api.HasPixels, "FreeImage_HasPixels") &&
        Bind(h, api.ConvertTo24Bits, "FreeImage_ConvertTo24Bits") &&
        Bind(h, api.ConvertTo32Bits, "FreeImage_ConvertTo32Bits") &&
        Bind(h, api.FlipVertical, "FreeImage_FlipVertical") &&
        Bind(h, api.GetDotsPerMeterX, "FreeImage_GetDotsPerMeterX") &&
        Bind(h, api.GetDotsPerMeterY, "FreeImage_GetDotsPerMeterY") &&
        Bind(h, api.SetDotsPerMeterX, "FreeImage_SetDotsPerMeterX") &&
        Bind(h, api.SetDotsPerMeterY, "FreeImage_SetDotsPerMeterY") &&
        Bind(h, api.GetVersion, "FreeImage_GetVersion") &&
        Bind(h, api.SetOutputMessage, "FreeImage_SetOutputMessage");
    if (!ok)
        return std::nullopt;
    // Optional: without it, saves fall back to the library's own (cleared) pixel memory.
    Bind(h, api.AllocateHeaderForBits, "FreeImage_AllocateHeaderForBits");
    return api;
}

}  // namespace

const TFreeImageApi* FreeImageApi()
{
    std::lock_guard lock(g_mutex);
    if (!g_tried) {
        g_tried = true;
        // An empty name must not fall back to the handle of the previous library.
        g_handle = g_libraryName.empty() ? nullptr
                                         : ::dlopen(g_libraryName.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (g_handle != nullptr) {
            g_api = LoadApi(g_handle);
            if (g_api) {
                g_api->SetOutputMessage(OnFreeImageMessage);
                SilenceLibTiff();
            }
        }
    }
    return g_api ? &*g_api : nullptr;
}

void SetFreeImageLibraryName(const std::string& name)
{
    std::lock_guard lock(g_mutex);
    // The old library stays loaded: bitmaps made through it may still be alive elsewhere.
    g_libraryName = name;
    g_api.reset();
    g_tried = false;
}

std::string FreeImageVersion()
{
    const TFreeImageApi* api = FreeImageApi();
    return api != nullptr ? std::string(api->GetVersion()) : std::string();
}

namespace {

// Held while an encoding pool runs, and by forks.
std::mutex g_exrPoolMutex;

// Whether a pool could be asked for: a known OpenEXR library under a loaded FreeImage.
bool SetExrThreads(int threads)
{
#if defined(__SANITIZE_THREAD__)
    // ThreadSanitizer sees neither the synchronisation of a pool inside an uninstrumented library
    // nor threads started after a fork: it would report races that are not there.
    (void)threads;
    return false;
#endif
    if (FreeImageApi() == nullptr)
        return false;
    // The OpenEXR libraries FreeImage builds are linked against, and the mangled name of
    // Imf::setGlobalThreadCount(int) in each one's versioned namespace.
    static constexpr const char* Libraries[][2] = {
        {"libOpenEXR-3_1.so.30", "_ZN7Imf_3_120setGlobalThreadCountEi"},
        {"libOpenEXR-3_2.so.31", "_ZN7Imf_3_220setGlobalThreadCountEi"},
        {"libOpenEXR-3_3.so.32", "_ZN7Imf_3_320setGlobalThreadCountEi"},
        {"libIlmImf-2_5.so.25", "_ZN7Imf_2_520setGlobalThreadCountEi"},
    };
    for (const auto& [library, symbol] : Libraries) {
        void* exr = ::dlopen(library, RTLD_NOW | RTLD_NOLOAD);
        if (exr == nullptr)
            continue;
        void (*setThreads)(int) = nullptr;
        const bool found = Bind(exr, setThreads, symbol);
        if (found)
            setThreads(threads > 1 ? threads : 0);
        ::dlclose(exr);
        return found;
    }
    return false;
}

}  // namespace

void SetExrDecoderThreads(int threads) { SetExrThreads(threads); }

TExrEncodeThreads::TExrEncodeThreads(int threads)
{
    if (threads < 2)
        return;
    g_exrPoolMutex.lock();
    m_started = SetExrThreads(threads);
    if (!m_started)
        g_exrPoolMutex.unlock();
}

TExrEncodeThreads::~TExrEncodeThreads()
{
    if (!m_started)
        return;
    // Joins the pool's threads before a fork may copy the process.
    SetExrThreads(0);
    g_exrPoolMutex.unlock();
}

TExrPoolStopped::TExrPoolStopped() { g_exrPoolMutex.lock(); }

TExrPoolStopped::~TExrPoolStopped() { g_exrPoolMutex.unlock(); }

std::string FreeImageMessage() { return t_message; }

void ClearFreeImageMessage() { t_message.clear(); }

}  // namespace lumivex
