#include "cli/Operations.h"

#include <charconv>
#include <cmath>
#include <sstream>
#include <stdexcept>

#include "adjust/ColorAdjust.h"
#include "adjust/HistogramHdr.h"
#include "adjust/ToneAdjust.h"
#include "adjust/ToneCurve.h"
#include "filters/ConvolutionHdr.h"
#include "filters/LocalToneHdr.h"
#include "geometry/GeometryHdr.h"
#include "geometry/ResampleHdr.h"

namespace lumivex {
namespace {

TParamDef Float(const std::string& key, double min, double max, double def)
{
    return TParamDef{key, TParamType::ptFloat, min, max, {def}};
}

TParamDef Int(const std::string& key, double min, double max, double def)
{
    return TParamDef{key, TParamType::ptInt, min, max, {def}};
}

std::vector<TParamDef> PerChannel(const std::string& stem, double min, double max, double def)
{
    return {Float(stem + "b", min, max, def), Float(stem + "g", min, max, def),
            Float(stem + "r", min, max, def)};
}

std::vector<TParamDef> LevelsParams(const std::string& suffix)
{
    return {Float("gamma" + suffix, 0.2, 5.0, 1.0), Float("inlow" + suffix, 0.0, 1.0, 0.0),
            Float("inhigh" + suffix, 0.0, 1.0, 1.0), Float("outlow" + suffix, 0.0, 1.0, 0.0),
            Float("outhigh" + suffix, 0.0, 1.0, 1.0)};
}

TLevels LevelsOf(const TOpArgs& a, const std::string& suffix)
{
    return TLevels{a.F("gamma" + suffix), a.F("inlow" + suffix), a.F("inhigh" + suffix),
                   a.F("outlow" + suffix), a.F("outhigh" + suffix)};
}

using TFastFilter = void (*)(TBmpHdr*, TRect, float, float);
using TFullFilter = void (*)(TBmpHdr*, TRect, float, float, float);

// The Fast and Full forms of a convolution filter. Radii follow the dialog's slider (steps of
// 0.1 up to maxRadius); the Full form takes a radius per direction, one of them may be 0.
void AddFilterPair(std::vector<TOperationDef>& table, const std::string& name,
                   const std::string& what, double maxRadius, double radius, double sensitivity,
                   TFastFilter fast, TFullFilter full)
{
    std::vector<TParamDef> fastParams{Float("radius", 0.1, maxRadius, radius)};
    std::vector<TParamDef> fullParams{Float("radiusx", 0.0, maxRadius, radius),
                                      Float("radiusy", 0.0, maxRadius, radius)};
    if (sensitivity >= 0.0) {
        fastParams.push_back(Float("sensitivity", 0.0, 1.0, sensitivity));
        fullParams.push_back(Float("sensitivity", 0.0, 1.0, sensitivity));
    }
    const bool sensitive = sensitivity >= 0.0;
    table.push_back({name + "fast", what + ", rows then columns (square)", fastParams,
                     [fast, sensitive](TBmpHdr& im, const TOpArgs& a) {
                         fast(&im, a.Rect, a.F("radius"), sensitive ? a.F("sensitivity") : 0.0f);
                     }});
    table.push_back({name + "full", what + ", 2-D kernel (round; slow at large radii)", fullParams,
                     [full, sensitive](TBmpHdr& im, const TOpArgs& a) {
                         full(&im, a.Rect, a.F("radiusx"), a.F("radiusy"),
                              sensitive ? a.F("sensitivity") : 0.0f);
                     }});
}

void AddNeighbourhoodFilters(std::vector<TOperationDef>& table)
{
    AddFilterPair(
        table, "blur", "box blur", 50.0, 3.0, -1.0,
        [](TBmpHdr* im, TRect r, float radius, float) { BlurFast(im, r, radius); },
        [](TBmpHdr* im, TRect r, float rx, float ry, float) { BlurFull(im, r, rx, ry); });
    AddFilterPair(table, "gaussblur", "gaussian blur (sensitivity weighs the centre)", 50.0, 7.0,
                  0.0, GaussBlurFast, GaussBlurFull);
    AddFilterPair(table, "unsharpmask", "unsharp mask (higher sensitivity sharpens less)", 30.0,
                  3.0, 0.5, UnsharpMaskFast, UnsharpMaskFull);
    AddFilterPair(table, "soften", "soften", 12.0, 3.0, 0.5, SoftenFast, SoftenFull);
    table.push_back(
        {"localtonemap",
         "local tone mapping (0 logarithmic, 1 Reinhard, 2 Jim & Richard), edge-preserving",
         {Int("method", 0, 2, 0), Int("radius", 1, 30, 3), Int("exposure", -8, 8, 0),
          Float("offset", -0.5, 0.5, 0.0)},
         [](TBmpHdr& im, const TOpArgs& a) {
             static constexpr TLocalToneFunc Operators[] = {LocalLogaritmic, LocalReinhard,
                                                            LocalJimRichard};
             im.ShiftToPositive(a.Rect);
             SimilarityThreshold = 0.05f;
             const auto kernel =
                 MakeGaussMatrix(static_cast<float>(a.I("radius")), 0.0f, GaussExponent, 1.0f);
             LocalToneMapHdr(&im, kernel.get(), a.Rect, Operators[a.I("method")],
                             static_cast<std::int8_t>(a.I("exposure")));
             OffsetHdr(&im, a.Rect, a.F("offset"));
         }});
    table.push_back({"microdetails",
                     "strengthen (amount > 0) or soften (< 0) fine detail",
                     {Float("amount", -1.0, 1.0, 0.5), Float("radius", 0.1, 50.0, 3.0)},
                     [](TBmpHdr& im, const TOpArgs& a) {
                         MicroDetailsAmount = a.F("amount");
                         const auto kernel =
                             MakeGaussMatrix(a.F("radius"), 0.0f, GaussExponent, 1.0f);
                         MicroDetailsHdr(&im, kernel.get(), a.Rect, MicroDetailsFunc);
                     }});
}

// Flips, turns, resampling and free rotation; the last three may change the image's size.
void AddGeometry(std::vector<TOperationDef>& table)
{
    table.push_back({"fliphorz", "mirror left and right", {}, [](TBmpHdr& im, const TOpArgs& a) {
                         FlipHorzHdr(&im, a.Rect);
                     }});
    table.push_back({"flipvert", "mirror top and bottom", {}, [](TBmpHdr& im, const TOpArgs& a) {
                         FlipVertHdr(&im, a.Rect);
                     }});
    table.push_back({"rotate180", "turn by 180 degrees", {}, [](TBmpHdr& im, const TOpArgs& a) {
                         Rotate180Hdr(&im, a.Rect);
                     }});
    // The quarter turns read a copy, as the editor reads its undo snapshot; they ignore rect.
    table.push_back({"rotate90cw",
                     "turn by 90 degrees clockwise (whole image)",
                     {},
                     [](TBmpHdr& im, const TOpArgs&) {
                         TBmpHdr source;
                         source.Assign(&im);
                         Rotate90CWHdr(&source, &im);
                     }});
    table.push_back({"rotate90ccw",
                     "turn by 90 degrees counter-clockwise (whole image)",
                     {},
                     [](TBmpHdr& im, const TOpArgs&) {
                         TBmpHdr source;
                         source.Assign(&im);
                         Rotate90CCWHdr(&source, &im);
                     }});
    table.push_back(
        {"resize",
         "resample to a new size (filter 0 nearest, 1 bilinear, 2 hermite, 3 bell, 4 b-spline, "
         "5 lanczos, 6 mitchell; support 0: the filter's own), clamped to 0..1, whole image",
         {Int("newwidth", 1, 65535, 100), Int("newheight", 1, 65535, 100),
          Int("filterindex", 0, ResampleFilterCount - 1, 5), Float("support", 0.0, 10.0, 0.0)},
         [](TBmpHdr& im, const TOpArgs& a) {
             TBmpHdr result;
             ResizeHdr(&im, &result, a.I("newwidth"), a.F("support"),
                       static_cast<std::uint8_t>(a.I("filterindex")), a.I("newheight"));
             if (!result.IsEmpty())
                 im = std::move(result);
         }});
    table.push_back(
        {"rotate",
         "free rotation by angle degrees, clockwise (interpolation 0 nearest, 1 bilinear, "
         "2 bicubic, 3 mitchell, 4 lagrange; adjustsize 1 fits the canvas; background none "
         "extends the edges), whole image",
         {Float("angle", -360.0, 360.0, 0.0), Int("interpolation", 0, 4, 2),
          Int("adjustsize", 0, 1, 0),
          TParamDef{"background", TParamType::ptColorOrNone, 0.0, 1.0, {1.0, 1.0, 1.0, 1.0}}},
         [](TBmpHdr& im, const TOpArgs& a) {
             const std::vector<double>& c = a.Values.at("background");
             RotateHdrInPlace(&im, a.I("adjustsize") != 0,
                              ColorHdr(static_cast<float>(c[0]), static_cast<float>(c[1]),
                                       static_cast<float>(c[2]), static_cast<float>(c[3])),
                              static_cast<std::uint8_t>(a.I("interpolation")), a.F("angle"));
         }});
}

std::vector<TOperationDef> BuildTable()
{
    std::vector<TParamDef> channelLevels;
    for (const char* c : {"b", "g", "r"})
        for (const TParamDef& p : LevelsParams(c))
            channelLevels.push_back(p);
    // Ranges are those the editor's dialogs can produce.
    std::vector<TOperationDef> table{
        {"shifttopositive",
         "raise B, G, R so that the smallest value is 0",
         {},
         [](TBmpHdr& im, const TOpArgs& a) { im.ShiftToPositive(a.Rect); }},
        {"tonemap",
         "global tone mapping (0 linear, 1 gamma 2.2, 2 Reinhard, 3 Jim & Richard)",
         {Int("method", 0, 3, 0), Int("exposure", -8, 8, 0)},
         [](TBmpHdr& im, const TOpArgs& a) {
             ToneMapHdr(&im, static_cast<std::uint8_t>(a.I("method")),
                        static_cast<std::int8_t>(a.I("exposure")), a.Rect);
         }},
        {"offset",
         "add to B, G, R, clamped",
         {Float("offset", -0.5, 0.5, 0.0)},
         [](TBmpHdr& im, const TOpArgs& a) { OffsetHdr(&im, a.Rect, a.F("offset")); }},
        {"brightness", "brightness per channel, clamped", PerChannel("amount", -2.0, 2.0, 0.0),
         [](TBmpHdr& im, const TOpArgs& a) {
             BrightnessHdr(&im, a.Rect, a.F("amountb"), a.F("amountg"), a.F("amountr"));
         }},
        {"contrast",
         "contrast about mid-grey, clamped",
         {Float("amount", -1.0, 1.0, 0.0)},
         [](TBmpHdr& im, const TOpArgs& a) { ContrastHdr(&im, a.Rect, a.F("amount")); }},
        {"contrastchannels", "contrast per channel, clamped", PerChannel("amount", -1.0, 1.0, 0.0),
         [](TBmpHdr& im, const TOpArgs& a) {
             ContrastChannelsHdr(&im, a.Rect, a.F("amountb"), a.F("amountg"), a.F("amountr"));
         }},
        {"gamma", "gamma per channel (above 1 brightens)", PerChannel("gamma", 0.04, 25.0, 1.0),
         [](TBmpHdr& im, const TOpArgs& a) {
             GammaHdr(&im, a.Rect, a.F("gammab"), a.F("gammag"), a.F("gammar"));
         }},
        {"scurve", "S-shaped contrast per channel", PerChannel("power", 0.04, 25.0, 1.0),
         [](TBmpHdr& im, const TOpArgs& a) {
             SCurveHdr(&im, a.Rect, a.F("powerb"), a.F("powerg"), a.F("powerr"));
         }},
        {"levelslinear",
         "linear levels of the values in low..high",
         {Float("low", 0.0, 1.0, 0.0), Float("high", 0.0, 1.0, 1.0), Float("pivot", 0.0, 1.0, 0.0),
          Float("amount", -1.0, 1.0, 0.0)},
         [](TBmpHdr& im, const TOpArgs& a) {
             LevelsLinearHdr(&im, a.Rect, a.F("low"), a.F("high"), a.F("pivot"), a.F("amount"));
         }},
        {"levelscurve",
         "curved levels of the values in low..high",
         {Float("low", 0.0, 1.0, 0.0), Float("high", 0.0, 1.0, 1.0), Float("pivot", 0.0, 1.0, 1.0),
          Float("exponent", 0.2, 5.0, 1.0)},
         [](TBmpHdr& im, const TOpArgs& a) {
             LevelsCurveHdr(&im, a.Rect, a.F("low"), a.F("high"), a.F("pivot"), a.F("exponent"));
         }},
        {"saturation",
         "saturation, clamped",
         {Float("amount", -1.0, 1.0, 0.0)},
         [](TBmpHdr& im, const TOpArgs& a) { SaturationHdr(&im, a.Rect, a.F("amount")); }},
        {"saturationchannels", "saturation per channel, clamped",
         PerChannel("amount", -1.0, 1.0, 0.0),
         [](TBmpHdr& im, const TOpArgs& a) {
             SaturationChannelsHdr(&im, a.Rect, a.F("amountb"), a.F("amountg"), a.F("amountr"));
         }},
        {"hue",
         "rotate hues by a fraction of the circle",
         {Float("shift", -0.5, 0.5, 0.0)},
         [](TBmpHdr& im, const TOpArgs& a) { HueHdr(&im, a.Rect, a.F("shift")); }},
        {"grayscale",
         "grey by rule (0 luminosity, 1 average, 2 minimum, 3 maximum, 4 blue, 5 green, 6 red)",
         {Int("mode", 0, 6, 0)},
         [](TBmpHdr& im, const TOpArgs& a) {
             GrayscaleHdr(&im, a.Rect, static_cast<std::uint8_t>(a.I("mode")));
         }},
        {"fillrectmode",
         "coloured layer (mode 0 normal, 1 addition, 2 subtract)",
         {TParamDef{"color", TParamType::ptColor, 0.0, 1.0, {1.0, 1.0, 1.0, 1.0}},
          Int("mode", 0, 2, 0), Float("opacity", 0.0, 1.0, 0.5)},
         [](TBmpHdr& im, const TOpArgs& a) {
             const std::vector<double>& c = a.Values.at("color");
             FillRectModeHdr(ColorHdr(static_cast<float>(c[0]), static_cast<float>(c[1]),
                                      static_cast<float>(c[2]), static_cast<float>(c[3])),
                             &im, a.Rect, static_cast<std::uint8_t>(a.I("mode")), a.F("opacity"));
         }},
        {"negative",
         "B, G, R := 1 - value",
         {},
         [](TBmpHdr& im, const TOpArgs& a) { NegativeHdr(&im, a.Rect); }},
        {"setalpha",
         "set alpha to a constant",
         {Float("value", 0.0, 1.0, 1.0)},
         [](TBmpHdr& im, const TOpArgs& a) { SetAlphaHdr(&im, a.Rect, a.F("value")); }},
        {"levels", "levels with the same settings for B, G, R", LevelsParams(""),
         [](TBmpHdr& im, const TOpArgs& a) { LevelsHdr(&im, a.Rect, LevelsOf(a, "")); }},
        {"channellevels", "levels per channel (keys end in b, g, r)", channelLevels,
         [](TBmpHdr& im, const TOpArgs& a) {
             ChannelLevelsHdr(&im, a.Rect, LevelsOf(a, "b"), LevelsOf(a, "g"), LevelsOf(a, "r"));
         }},
        {"normalize",
         "stretch B, G, R to 0..1",
         {},
         [](TBmpHdr& im, const TOpArgs& a) { im.Normalize(a.Rect); }},
        {"normalizechannels",
         "stretch each channel to 0..1",
         {},
         [](TBmpHdr& im, const TOpArgs& a) { im.NormalizeChannels(a.Rect); }},
    };
    AddNeighbourhoodFilters(table);
    AddGeometry(table);
    return table;
}

std::string RangeText(const TParamDef& p)
{
    std::ostringstream s;
    s << p.Min << ".." << p.Max;
    return s.str();
}

std::vector<double> ParseNumbers(const std::string& op, const std::string& key,
                                 const std::string& text, std::size_t count, bool integer)
{
    std::vector<double> values;
    std::size_t start = 0;
    while (true) {
        const std::size_t comma = text.find(',', start);
        const std::string part =
            text.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
        double v = 0.0;
        const char* end = part.data() + part.size();
        const auto [ptr, ec] = std::from_chars(part.data(), end, v);
        if (part.empty() || ec != std::errc() || ptr != end || !std::isfinite(v) ||
            (integer && v != std::trunc(v)))
            throw std::invalid_argument(op + ": " + key + "=\"" + text + "\" is not " +
                                        (count > 1 ? std::to_string(count) + " numbers"
                                                   : (integer ? "a whole number" : "a number")));
        values.push_back(v);
        if (comma == std::string::npos)
            break;
        start = comma + 1;
    }
    if (values.size() != count)
        throw std::invalid_argument(op + ": " + key + " needs " + std::to_string(count) +
                                    " comma-separated numbers");
    return values;
}

// Keys and values are separated by commas too (colours and rectangles hold commas), so a key
// starts at every "name=" piece.
std::vector<std::pair<std::string, std::string>> SplitPairs(const std::string& op,
                                                            const std::string& text)
{
    std::vector<std::pair<std::string, std::string>> pairs;
    std::size_t pos = 0;
    while (pos < text.size()) {
        std::size_t end = text.find(',', pos);
        std::string piece =
            text.substr(pos, end == std::string::npos ? std::string::npos : end - pos);
        const std::size_t eq = piece.find('=');
        if (eq == std::string::npos) {
            if (pairs.empty())
                throw std::invalid_argument(op + ": \"" + piece + "\" is not key=value");
            pairs.back().second += "," + piece;
        } else {
            pairs.emplace_back(piece.substr(0, eq), piece.substr(eq + 1));
        }
        if (end == std::string::npos)
            break;
        pos = end + 1;
    }
    return pairs;
}

}  // namespace

const std::vector<TOperationDef>& OperationTable()
{
    static const std::vector<TOperationDef> table = BuildTable();
    return table;
}

TOperation ParseOperation(const std::string& word)
{
    const std::size_t colon = word.find(':');
    const std::string name = word.substr(0, colon);
    TOperation op;
    for (const TOperationDef& def : OperationTable())
        if (def.Name == name)
            op.Def = &def;
    if (op.Def == nullptr)
        throw std::invalid_argument("unknown operation \"" + name + "\" (see lumivex-cli ops)");
    for (const TParamDef& p : op.Def->Params)
        op.Args.Values[p.Key] = p.Default;
    if (colon == std::string::npos)
        return op;
    for (const auto& [key, text] : SplitPairs(name, word.substr(colon + 1))) {
        if (key == "rect") {
            const std::vector<double> r = ParseNumbers(name, key, text, 4, true);
            for (const double v : r)
                if (std::fabs(v) > 1.0e9)
                    throw std::invalid_argument(name + ": rect value out of range");
            op.Args.Rect = TRect{static_cast<std::int32_t>(r[0]), static_cast<std::int32_t>(r[1]),
                                 static_cast<std::int32_t>(r[2]), static_cast<std::int32_t>(r[3])};
            continue;
        }
        const TParamDef* def = nullptr;
        for (const TParamDef& p : op.Def->Params)
            if (p.Key == key)
                def = &p;
        if (def == nullptr)
            throw std::invalid_argument(name + ": unknown key \"" + key + "\"");
        if (def->Type == TParamType::ptColorOrNone && text == "none") {
            op.Args.Values[key] = {-1.0, -1.0, -1.0, -1.0};  // clNoneHdr
            continue;
        }
        const bool colour =
            def->Type == TParamType::ptColor || def->Type == TParamType::ptColorOrNone;
        const std::size_t count = colour ? 4 : 1;
        const std::vector<double> values =
            ParseNumbers(name, key, text, count, def->Type == TParamType::ptInt);
        for (const double v : values)
            if (v < def->Min || v > def->Max)
                throw std::invalid_argument(name + ": " + key + "=" + text + " is outside " +
                                            RangeText(*def));
        op.Args.Values[key] = values;
    }
    return op;
}

std::string DescribeOperations()
{
    std::ostringstream s;
    for (const TOperationDef& op : OperationTable()) {
        s << op.Name << ": " << op.Summary << "\n";
        for (const TParamDef& p : op.Params) {
            s << "    " << p.Key << " "
              << (p.Type == TParamType::ptInt
                      ? "int"
                      : (p.Type == TParamType::ptColor
                             ? "color R,G,B,A"
                             : (p.Type == TParamType::ptColorOrNone ? "color R,G,B,A or none"
                                                                    : "float")))
              << " " << RangeText(p) << " default ";
            for (std::size_t i = 0; i < p.Default.size(); ++i)
                s << (i ? "," : "") << p.Default[i];
            s << "\n";
        }
        s << "    rect L,T,R,B (default: the whole image)\n";
    }
    return s.str();
}

}  // namespace lumivex
