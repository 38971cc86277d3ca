#include "cli/Cli.h"

#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <iomanip>
#include <optional>
#include <ostream>
#include <sstream>
#include <stdexcept>
#include <system_error>

#include "adjust/HistogramHdr.h"
#include "cli/Operations.h"
#include "core/BmpHdr.h"
#include "core/Parallel.h"
#include "core/Progress.h"
#include "io/FileStatus.h"
#include "io/FreeHdr.h"
#include "io/FreeImageApi.h"
#include "io/ImageFile.h"
#include "io/IsolatedLoad.h"
#include "merge/MergeFiles.h"
#include "merge/MergeHdr.h"
#include "platform/Bitmap.h"
#include "view/DisplayHdr.h"

#ifndef LUMIVEX_VERSION
#define LUMIVEX_VERSION "0.0.0"
#endif

namespace lumivex {
namespace {

constexpr const char* UsageText =
    "Usage: lumivex-cli [OPTIONS] COMMAND ...\n"
    "\n"
    "Commands:\n"
    "  info FILE...          size, kind, bits per pixel, transparency, DPI and B/G/R ranges\n"
    "  convert IN OUT        load IN and save OUT with the writer its extension selects\n"
    "                        (.bmp .jpg .png .tif .hdr .exr)\n"
    "  apply IN OUT OP...    run operations left to right, then save as convert does\n"
    "  apply --out-dir DIR [--suffix S] [--format EXT] IN... -- OP...\n"
    "                        the same for many files; goes on past a failing file\n"
    "  ops                   list the operations, their parameters, ranges and defaults\n"
    "  histogram FILE        minimum, maximum, average and median of the four channels\n"
    "                        (--bins N, default 256; --rect L,T,R,B; --json adds the bins)\n"
    "  merge OUT IN1 IN2 [IN...]\n"
    "                        merge exposures of one scene into one image, saved as convert\n"
    "                        saves a standard image (.jpg files through libjpeg, others\n"
    "                        through the image library, all as 24-bit bitmaps of one size)\n"
    "  render IN OUT         the bytes the editor shows of IN (values clipped to 0..1, alpha\n"
    "                        blended), saved as convert saves a standard image\n"
    "\n"
    "Options:\n"
    "  --json                info: one JSON object per line\n"
    "  --gamma G             convert: gamma for HDR and OpenEXR output, 0 < G <= 10\n"
    "                        (default 1.0 for high-range data, else 2.2)\n"
    "  --dpi D               convert: resolution to store, 0 < D <= 100000 (default: the input's)\n"
    "  --quality Q           convert: JPEG quality 1..100 (default: FreeImage's superb level)\n"
    "  --exr-float           convert: write 32-bit float OpenEXR channels (lossless) instead of\n"
    "                        half floats\n"
    "  --mode M              merge: average, logaritmic (default) or weighted\n"
    "  --auto-exposure on|off\n"
    "                        merge: weigh each photograph by its brightness (default on)\n"
    "  --zoom Z              render: display scale, 0.1 <= Z <= 16 (default 1)\n"
    "  --checkerboard        render: the grey and white squares under transparent pixels\n"
    "  --threads N           threads for whole-image work, 1..64 (default: all cores)\n"
    "  --no-freeimage        read and write through the built-in BMP and JPEG codecs only\n"
    "  --help, --version\n";

struct TOptions {
    bool Json = false;
    std::optional<float> Gamma;
    std::optional<float> Dpi;
    std::optional<int> Quality;
    bool ExrFloat = false;
    std::optional<int> Threads;
    bool NoFreeImage = false;
    std::optional<std::string> OutDir;
    std::string Suffix = "_HD";
    std::optional<std::string> Format;
    int Bins = 256;
    std::optional<std::string> Rect;
    TMergeMode MergeMode = TMergeMode::mmLogaritmic;
    bool AutoExposure = true;
    float Zoom = 1.0f;
    bool Checkerboard = false;
    std::vector<std::string> Words;
    /// Index into Words where the words after "--" start.
    std::optional<std::size_t> DashAt;
};

class TUsageError {
public:
    explicit TUsageError(std::string message) : Message(std::move(message)) {}
    std::string Message;
};

double ParseNumber(const std::string& option, const std::string& text, double low, double high,
                   bool lowInclusive)
{
    double value = 0.0;
    const char* end = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(text.data(), end, value);
    if (ec != std::errc() || ptr != end || !std::isfinite(value))
        throw TUsageError(option + ": \"" + text + "\" is not a number");
    if ((lowInclusive ? value < low : value <= low) || value > high) {
        std::ostringstream range;
        range << option << ": " << text << " is outside " << (lowInclusive ? "" : "above ") << low
              << " .. " << high;
        throw TUsageError(range.str());
    }
    return value;
}

int ParseInteger(const std::string& option, const std::string& text, int low, int high)
{
    int value = 0;
    const char* end = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(text.data(), end, value);
    if (ec != std::errc() || ptr != end)
        throw TUsageError(option + ": \"" + text + "\" is not a whole number");
    if (value < low || value > high)
        throw TUsageError(option + ": " + text + " is outside " + std::to_string(low) + " .. " +
                          std::to_string(high));
    return value;
}

TMergeMode ParseMergeMode(const std::string& option, const std::string& text)
{
    if (text == "average")
        return TMergeMode::mmAverage;
    if (text == "logaritmic")
        return TMergeMode::mmLogaritmic;
    if (text == "weighted")
        return TMergeMode::mmWeighted;
    throw TUsageError(option + ": \"" + text + "\" is not average, logaritmic or weighted");
}

bool ParseSwitch(const std::string& option, const std::string& text)
{
    if (text == "on")
        return true;
    if (text == "off")
        return false;
    throw TUsageError(option + ": \"" + text + "\" is not on or off");
}

TOptions ParseOptions(const std::vector<std::string>& args)
{
    TOptions o;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        auto value = [&]() -> const std::string& {
            if (i + 1 >= args.size())
                throw TUsageError(a + " needs a value");
            return args[++i];
        };
        if (a == "--json")
            o.Json = true;
        else if (a == "--gamma")
            o.Gamma = static_cast<float>(ParseNumber(a, value(), 0.0, 10.0, false));
        else if (a == "--dpi")
            o.Dpi = static_cast<float>(ParseNumber(a, value(), 0.0, 100000.0, false));
        else if (a == "--quality")
            o.Quality = ParseInteger(a, value(), 1, 100);
        else if (a == "--exr-float")
            o.ExrFloat = true;
        else if (a == "--threads")
            o.Threads = ParseInteger(a, value(), 1, 64);
        else if (a == "--no-freeimage")
            o.NoFreeImage = true;
        else if (a == "--out-dir")
            o.OutDir = value();
        else if (a == "--suffix")
            o.Suffix = value();
        else if (a == "--format")
            o.Format = value();
        else if (a == "--bins")
            o.Bins = ParseInteger(a, value(), 2, 4096);
        else if (a == "--rect")
            o.Rect = value();
        else if (a == "--mode")
            o.MergeMode = ParseMergeMode(a, value());
        else if (a == "--auto-exposure")
            o.AutoExposure = ParseSwitch(a, value());
        else if (a == "--zoom")
            o.Zoom = static_cast<float>(ParseNumber(a, value(), 0.1, 16.0, true));
        else if (a == "--checkerboard")
            o.Checkerboard = true;
        else if (a == "--") {
            // Everything after "--" is a word, even when it starts with a dash.
            o.DashAt = o.Words.size();
            o.Words.insert(o.Words.end(), args.begin() + static_cast<std::ptrdiff_t>(i) + 1,
                           args.end());
            break;
        } else if (a.size() > 1 && a[0] == '-' && a != "--help" && a != "--version")
            throw TUsageError("unknown option " + a);
        else
            o.Words.push_back(a);
    }
    return o;
}

const char* KindName(TImageKind kind)
{
    switch (kind) {
        case TImageKind::ikStandard:
            return "ikStandard";
        case TImageKind::ikHighRange:
            return "ikHighRange";
        case TImageKind::ikHighPrecision:
            return "ikHighPrecision";
    }
    return "ikStandard";
}

std::string JsonString(const std::string& s)
{
    std::string r = "\"";
    for (const char c : s) {
        const auto u = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            r += '\\';
            r += c;
        } else if (u < 0x20) {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\u%04x", u);
            r += buf;
        } else {
            r += c;
        }
    }
    return r + "\"";
}

// Shortest text that reads back as the same float; JSON has no NaN or infinity.
std::string Number(float v, bool json)
{
    if (!std::isfinite(v))
        return json ? "null" : (std::isnan(v) ? "nan" : (v > 0 ? "inf" : "-inf"));
    char buf[32];
    const auto [ptr, ec] = std::to_chars(buf, buf + sizeof buf, v);
    return ec == std::errc() ? std::string(buf, ptr) : std::string("0");
}

std::string FailureText(const std::string& fileName)
{
    const TFileStatus& s = LastFileStatus();
    return "lumivex-cli: " + fileName + ": " + (s.Message.empty() ? "failed" : s.Message);
}

TLoadPath PathFor(const TOptions& o)
{
    return o.NoFreeImage ? TLoadPath::lpPlatform : TLoadPath::lpAuto;
}

// Progress of long loads and saves, on stderr: the tool's output stays clean for scripts.
class TStderrProgress {
public:
    TStderrProgress(std::ostream& err, std::string label) : m_err(err), m_label(std::move(label))
    {
        m_old = OnProgress;
        OnProgress = [this](int stage, int percentage, int) {
            if (stage == psStep) {
                m_err << "\r" << m_label << " " << percentage << "%" << std::flush;
                m_shown = true;
            } else if (stage == psEnd && m_shown) {
                m_err << "\n";
                m_shown = false;
            }
        };
    }
    ~TStderrProgress() { OnProgress = m_old; }
    TStderrProgress(const TStderrProgress&) = delete;
    TStderrProgress& operator=(const TStderrProgress&) = delete;

private:
    std::ostream& m_err;
    std::string m_label;
    TProgressEvent m_old;
    bool m_shown = false;
};

int RunInfo(const TOptions& o, std::ostream& out, std::ostream& err)
{
    if (o.Words.size() < 2)
        throw TUsageError("info needs at least one FILE");
    int result = ceSuccess;
    for (std::size_t i = 1; i < o.Words.size(); ++i) {
        const std::string& fileName = o.Words[i];
        TBmpHdr image;
        TImageInfo info;
        TFileDetails details;
        TStderrProgress progress(err, "loading " + fileName);
        if (!LoadImageFile(fileName, &image, info, PathFor(o), {}, &details)) {
            err << FailureText(fileName) << "\n";
            result = ceFailure;
            continue;
        }
        float mn[3];
        float mx[3];
        image.GetChannelMinMax(mn[0], mx[0], mn[1], mx[1], mn[2], mx[2], MaxRectHdr);
        const bool json = o.Json;
        if (json) {
            out << "{\"file\":" << JsonString(fileName) << ",\"width\":" << image.Width()
                << ",\"height\":" << image.Height() << ",\"kind\":\"" << KindName(info.Kind)
                << "\",\"bpp\":" << details.BitsPerPixel
                << ",\"transparent\":" << (info.Transparent ? "true" : "false")
                << ",\"dpiX\":" << Number(info.DpiX, json)
                << ",\"dpiY\":" << Number(info.DpiY, json)
                << ",\"min\":{\"B\":" << Number(mn[0], json) << ",\"G\":" << Number(mn[1], json)
                << ",\"R\":" << Number(mn[2], json) << "},\"max\":{\"B\":" << Number(mx[0], json)
                << ",\"G\":" << Number(mx[1], json) << ",\"R\":" << Number(mx[2], json) << "}}\n";
        } else {
            out << fileName << ": " << image.Width() << " x " << image.Height() << ", "
                << KindName(info.Kind) << ", " << details.BitsPerPixel << " bpp, "
                << (info.Transparent ? "transparent" : "opaque") << ", " << Number(info.DpiX, json)
                << " x " << Number(info.DpiY, json) << " dpi, B " << Number(mn[0], json) << " .. "
                << Number(mx[0], json) << ", G " << Number(mn[1], json) << " .. "
                << Number(mx[1], json) << ", R " << Number(mn[2], json) << " .. "
                << Number(mx[2], json) << "\n";
        }
    }
    return result;
}

// The document's save options: HDR data keeps its linear values, everything else is
// linearised from a 2.2 encoding when written to a float format.
TImageInfo SaveOptions(const TOptions& o, const TImageInfo& loaded)
{
    TImageInfo save;
    save.Transparent = loaded.Transparent;
    save.Gamma = o.Gamma.value_or(loaded.Kind == TImageKind::ikHighRange ? 1.0f : 2.2f);
    save.DpiX = o.Dpi.value_or(loaded.DpiX > 0.0f ? loaded.DpiX : 72.0f);
    save.DpiY = o.Dpi.value_or(loaded.DpiY > 0.0f ? loaded.DpiY : 72.0f);
    save.Kind = loaded.Kind;
    save.JpegFlags = o.Quality.value_or(JPEG_QUALITYSUPERB);
    save.PngFlags = 0;
    save.TiffFlags = 0;
    save.ExrFlags = o.ExrFloat ? EXR_FLOAT : 0;
    return save;
}

TSaveFormat CheckOutputName(const TOptions& o, const std::string& outName)
{
    const std::optional<TSaveFormat> format = SaveFormatFromFileName(outName);
    if (!format)
        throw TUsageError(outName + ": unknown output format (use .bmp .jpg .png .tif .hdr .exr)");
    if (o.NoFreeImage && *format != TSaveFormat::sfBmp && *format != TSaveFormat::sfJpeg)
        throw TUsageError(outName + ": without FreeImage only .bmp and .jpg can be written");
    return *format;
}

std::vector<TOperation> ParseOperations(const std::vector<std::string>& words)
{
    std::vector<TOperation> ops;
    for (const std::string& w : words) {
        try {
            ops.push_back(ParseOperation(w));
        } catch (const std::invalid_argument& e) {
            throw TUsageError(e.what());
        }
    }
    return ops;
}

// Load, run the operations, save; the message names the failing file.
bool Process(const TOptions& o, const std::string& in, const std::string& outName,
             TSaveFormat format, const std::vector<TOperation>& ops, std::ostream& err)
{
    TBmpHdr image;
    TImageInfo loaded;
    // An 8-bit file written unchanged to an 8-bit format keeps its bytes: the float image would
    // round back to them.
    TBitmap bytes;
    {
        TStderrProgress progress(err, "loading " + in);
        const bool ok = ops.empty() && SaveFormatIsEightBit(format)
                            ? LoadImageOrBitmap(in, &image, bytes, loaded, PathFor(o))
                            : LoadImageFile(in, &image, loaded, PathFor(o));
        if (!ok) {
            err << FailureText(in) << "\n";
            return false;
        }
    }
    for (const TOperation& op : ops) {
        TStderrProgress progress(err, op.Def->Name);
        op.Def->Run(image, op.Args);
    }
    const bool saved = bytes.IsEmpty()
                           ? SaveImageFile(outName, format, &image, SaveOptions(o, loaded))
                           : SaveBitmapFile(outName, format, bytes, SaveOptions(o, loaded));
    if (!saved) {
        err << FailureText(outName) << "\n";
        return false;
    }
    return true;
}

int RunConvert(const TOptions& o, std::ostream& err)
{
    if (o.Words.size() != 3)
        throw TUsageError("convert needs IN and OUT");
    const TSaveFormat format = CheckOutputName(o, o.Words[2]);
    return Process(o, o.Words[1], o.Words[2], format, {}, err) ? ceSuccess : ceFailure;
}

int RunApply(const TOptions& o, std::ostream& err)
{
    if (!o.OutDir) {
        if (o.Words.size() < 4)
            throw TUsageError("apply needs IN, OUT and at least one operation");
        const TSaveFormat format = CheckOutputName(o, o.Words[2]);
        const std::vector<TOperation> ops = ParseOperations({o.Words.begin() + 3, o.Words.end()});
        return Process(o, o.Words[1], o.Words[2], format, ops, err) ? ceSuccess : ceFailure;
    }
    if (!o.DashAt || *o.DashAt <= 1 || *o.DashAt >= o.Words.size())
        throw TUsageError("apply --out-dir needs IN... -- OP...");
    const std::vector<std::string> inputs(o.Words.begin() + 1,
                                          o.Words.begin() + static_cast<std::ptrdiff_t>(*o.DashAt));
    const std::vector<TOperation> ops =
        ParseOperations({o.Words.begin() + static_cast<std::ptrdiff_t>(*o.DashAt), o.Words.end()});
    // The error_code form: a name the system refuses (too long, say) is a usage error, not an
    // exception out of the tool.
    std::error_code folderError;
    if (!std::filesystem::is_directory(*o.OutDir, folderError))
        throw TUsageError(*o.OutDir + ": " +
                          (folderError ? folderError.message() : std::string("not a folder")));
    std::vector<std::string> outputs;
    std::vector<TSaveFormat> formats;
    for (const std::string& in : inputs) {
        const std::filesystem::path p(in);
        const std::string ext = o.Format ? "." + *o.Format : p.extension().string();
        outputs.push_back(
            (std::filesystem::path(*o.OutDir) / (p.stem().string() + o.Suffix + ext)).string());
        formats.push_back(CheckOutputName(o, outputs.back()));
        // Two inputs must never silently write one output.
        for (std::size_t j = 0; j + 1 < outputs.size(); ++j)
            if (outputs[j] == outputs.back())
                throw TUsageError(inputs[j] + " and " + in + " would both write " + outputs[j]);
    }
    int failed = 0;
    for (std::size_t i = 0; i < inputs.size(); ++i) {
        err << "\rlumivex-cli: file " << i + 1 << " of " << inputs.size() << " ("
            << (100 * i / inputs.size()) << "%) " << inputs[i] << "\n"
            << std::flush;
        if (!Process(o, inputs[i], outputs[i], formats[i], ops, err))
            ++failed;
    }
    err << "lumivex-cli: " << inputs.size() - static_cast<std::size_t>(failed) << " of "
        << inputs.size() << " files done (100%)";
    if (failed > 0)
        err << ", " << failed << " failed";
    err << "\n";
    return failed > 0 ? ceFailure : ceSuccess;
}

// As the merge dialog does: every photograph must load and have the first one's size before
// anything is merged; the result is a standard document (72 DPI, opaque).
int RunMerge(const TOptions& o, std::ostream& err)
{
    if (o.Words.size() < 3)
        throw TUsageError("merge needs OUT and at least two IN files");
    const std::string& outName = o.Words[1];
    const TSaveFormat format = CheckOutputName(o, outName);
    std::vector<std::string> inputs;
    for (auto w = o.Words.begin() + 2; w != o.Words.end(); ++w) {
        // The dialog's list holds a name once; a repeated name would count twice in the means.
        if (std::find(inputs.begin(), inputs.end(), *w) != inputs.end())
            err << "lumivex-cli: " << *w << " is listed twice; it is merged once\n";
        else
            inputs.push_back(*w);
    }
    if (inputs.size() < 2)
        throw TUsageError("merge needs at least two different IN files");
    TBmpList list;
    std::size_t failed = 0;
    bool loaded = false;
    {
        std::optional<TStderrProgress> progress;
        loaded = AddMergeFiles(list, inputs, PathFor(o), failed, [&](std::size_t i) {
            progress.reset();
            progress.emplace(err, "loading " + inputs[i]);
        });
    }
    if (!loaded) {
        err << FailureText(inputs[failed]) << "\n";
        return ceFailure;
    }
    list.Mode = o.MergeMode;
    if (o.AutoExposure)
        list.ComputeAutoExposure();
    TBmpHdr image;
    {
        TStderrProgress progress(err, "merge");
        list.Merge(&image);
    }
    list.Clear();
    if (!SaveImageFile(outName, format, &image, SaveOptions(o, TImageInfo{}))) {
        err << FailureText(outName) << "\n";
        return ceFailure;
    }
    return ceSuccess;
}

int RunHistogram(const TOptions& o, std::ostream& out, std::ostream& err)
{
    if (o.Words.size() != 2)
        throw TUsageError("histogram needs one FILE");
    TRect rect = MaxRectHdr;
    if (o.Rect) {
        try {
            rect = ParseOperation("negative:rect=" + *o.Rect).Args.Rect;
        } catch (const std::invalid_argument&) {
            throw TUsageError("--rect: \"" + *o.Rect + "\" is not L,T,R,B");
        }
    }
    const std::string& fileName = o.Words[1];
    TBmpHdr image;
    TImageInfo info;
    if (!LoadImageFile(fileName, &image, info, PathFor(o))) {
        err << FailureText(fileName) << "\n";
        return ceFailure;
    }
    SetHistogramBins(static_cast<std::uint16_t>(o.Bins));
    ComputeHistograms(&image, rect, 777);
    const char* names[] = {"luminosity", "red", "green", "blue"};
    if (o.Json)
        out << "{\"file\":" << JsonString(fileName);
    for (std::uint8_t c = 0; c < 4; ++c) {
        float mn = 0.0f;
        float mx = 0.0f;
        float avg = 0.0f;
        float med = 0.0f;
        GetHistogramStats(c, mn, mx, avg, med);
        if (o.Json) {
            out << ",\"" << names[c] << "\":{\"min\":" << Number(mn, true)
                << ",\"max\":" << Number(mx, true) << ",\"average\":" << Number(avg, true)
                << ",\"median\":" << Number(med, true) << ",\"bins\":[";
            const THistogram& h = HistogramOf(c);
            for (std::size_t k = 4; k < h.size(); ++k)
                out << (k > 4 ? "," : "") << Number(h[k], true);
            out << "]}";
        } else {
            out << names[c] << ": min " << Number(mn, false) << ", max " << Number(mx, false)
                << ", average " << Number(avg, false) << ", median " << Number(med, false) << "\n";
        }
    }
    if (o.Json)
        out << "}\n";
    return ceSuccess;
}

// The view's drawing of the whole image: the file holds exactly the bytes the editor puts on
// the screen at that zoom.
int RunRender(const TOptions& o, std::ostream& err)
{
    if (o.Words.size() != 3)
        throw TUsageError("render needs IN and OUT");
    const std::string& in = o.Words[1];
    const std::string& outName = o.Words[2];
    const TSaveFormat format = CheckOutputName(o, outName);
    TBmpHdr image;
    TImageInfo loaded;
    {
        TStderrProgress progress(err, "loading " + in);
        if (!LoadImageFile(in, &image, loaded, PathFor(o))) {
            err << FailureText(in) << "\n";
            return ceFailure;
        }
    }
    TBitmap screen;
    RenderImageToBitmap(&image, o.Zoom, o.Checkerboard, screen);
    TBmpHdr shown;
    shown.SetSize(screen.Width(), screen.Height(), clNoneHdr);
    Bitmap24ToHdr(&screen, MaxRectHdr, &shown, 0, 0, MaxRectHdr);
    // Screen bytes: an opaque standard image, whose bytes / 255 save back to the same bytes.
    TImageInfo standard = loaded;
    standard.Kind = TImageKind::ikStandard;
    standard.Transparent = false;
    if (!SaveImageFile(outName, format, &shown, SaveOptions(o, standard))) {
        err << FailureText(outName) << "\n";
        return ceFailure;
    }
    return ceSuccess;
}

}  // namespace

int RunCli(const std::vector<std::string>& args, std::ostream& out, std::ostream& err)
{
    try {
        const TOptions o = ParseOptions(args);
        if (o.Words.empty()) {
            err << UsageText;
            return ceUsage;
        }
        if (o.NoFreeImage)
            SetFreeImageLibraryName("");
        if (o.Threads)
            SetThreadCount(*o.Threads);
        const std::string& command = o.Words[0];
        if (command == "--help") {
            out << UsageText;
            return ceSuccess;
        }
        if (command == "--version") {
            const std::string fi = FreeImageVersion();
            out << "lumivex-cli " << LUMIVEX_VERSION << " (FreeImage "
                << (fi.empty() ? std::string("not available") : fi) << ")\n";
            return ceSuccess;
        }
        if (command == "info")
            return RunInfo(o, out, err);
        if (command == "convert")
            return RunConvert(o, err);
        if (command == "apply")
            return RunApply(o, err);
        if (command == "histogram")
            return RunHistogram(o, out, err);
        if (command == "merge")
            return RunMerge(o, err);
        if (command == "render")
            return RunRender(o, err);
        if (command == "ops") {
            out << DescribeOperations();
            return ceSuccess;
        }
        throw TUsageError("unknown command \"" + command + "\"");
    } catch (const TUsageError& e) {
        err << "lumivex-cli: " << e.Message << "\n(see lumivex-cli --help)\n";
        return ceUsage;
    } catch (const std::bad_alloc&) {
        err << "lumivex-cli: out of memory\n";
        return ceFailure;
    } catch (const std::exception& e) {
        // Whatever else the libraries throw ends the command with its reason, never the tool.
        err << "lumivex-cli: " << e.what() << "\n";
        return ceFailure;
    }
}

}  // namespace lumivex
