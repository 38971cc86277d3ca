#pragma once

// Random operations of the command line's table on real images, each preceded by the history
// record the editor opens for it, for the history's property and fault tests.

#include <cstdint>
#include <memory>
#include <random>
#include <set>
#include <sstream>
#include <string>

#include "TestData.h"
#include "cli/Operations.h"
#include "core/BmpHdr.h"
#include "history/UndoHdr.h"
#include "io/IsolatedLoad.h"

namespace lumivex::test {

/// The operations that may change the image's size: the editor saves the whole image for them.
inline bool ChangesSize(const TOperationDef& def)
{
    static const std::set<std::string> Names{"resize", "rotate", "rotate90cw", "rotate90ccw"};
    return Names.contains(def.Name);
}

/// The record the editor opens before the operation: the whole image, or the work rectangle.
inline std::unique_ptr<TUndoHdrItem> OpenRecord(TBmpHdr& image, const TOperation& op)
{
    return ChangesSize(*op.Def) ? TUndoHdrItem::CreateWhole(&image)
                                : TUndoHdrItem::CreateRegion(&image, op.Args.Rect);
}

/// A crop of a real image, small enough that dozens of random filters run in seconds.
inline TBmpHdr RealCrop(const std::string& file, int left, int top, int width, int height)
{
    TBmpHdr full;
    TImageInfo info;
    EXPECT_TRUE(LoadImageFile(TestDataPath(file), &full, info)) << file;
    TBmpHdr crop;
    crop.SetSize(width, height, clNoneHdr);
    CopyRectHdr(&full, TRect{left, top, left + width, top + height}, &crop, 0, 0, MaxRectHdr);
    return crop;
}

/// Draws operations with parameters anywhere in their ranges and regions that may overhang or
/// miss the image. Radii and sizes are capped where the full range only costs time: the 2-D
/// kernels at radius 50 take seconds per call.
class TOperationDrawer {
public:
    explicit TOperationDrawer(std::uint32_t seed) : m_random(seed) {}

    TOperation Draw(const TBmpHdr& image)
    {
        const auto& table = OperationTable();
        TOperation op;
        op.Def = &table[Pick(0, static_cast<int>(table.size()) - 1)];
        for (const TParamDef& p : op.Def->Params)
            op.Args.Values[p.Key] = Value(*op.Def, p, image);
        op.Args.Rect = Region(image);
        return op;
    }

    /// The operation as the command line writes it, for failure messages.
    static std::string Word(const TOperation& op)
    {
        std::ostringstream s;
        s.precision(9);
        s << op.Def->Name << ":";
        for (const auto& [key, values] : op.Args.Values) {
            s << key << "=";
            for (std::size_t i = 0; i < values.size(); ++i)
                s << (i ? "," : "") << values[i];
            s << ",";
        }
        const TRect& r = op.Args.Rect;
        s << "rect=" << r.Left << "," << r.Top << "," << r.Right << "," << r.Bottom;
        return s.str();
    }

    int Pick(int low, int high) { return std::uniform_int_distribution<int>(low, high)(m_random); }

private:
    double Uniform(double low, double high)
    {
        return std::uniform_real_distribution<double>(low, high)(m_random);
    }

    std::vector<double> Value(const TOperationDef& def, const TParamDef& p, const TBmpHdr& image)
    {
        if (p.Type == TParamType::ptColorOrNone && Pick(0, 4) == 0)
            return {-1.0, -1.0, -1.0, -1.0};
        if (p.Type == TParamType::ptColor || p.Type == TParamType::ptColorOrNone)
            return {Uniform(0.0, 1.0), Uniform(0.0, 1.0), Uniform(0.0, 1.0), Uniform(0.0, 1.0)};
        double high = p.Max;
        if (p.Key.starts_with("radius"))
            high = std::min(high, def.Name.ends_with("full") ? 6.0 : 20.0);
        if (p.Key == "newwidth" || p.Key == "newheight")  // repeated growth stays small
            high = std::min(96.0, 2.0 * (p.Key == "newwidth" ? image.Width() : image.Height()));
        if (p.Type == TParamType::ptInt)
            return {static_cast<double>(Pick(static_cast<int>(p.Min), static_cast<int>(high)))};
        // The ends of a range are legal and often special (radius 0, opacity 1).
        const int end = Pick(0, 9);
        if (end == 0)
            return {p.Min};
        if (end == 1)
            return {high};
        return {Uniform(p.Min, high)};
    }

    TRect Region(const TBmpHdr& image)
    {
        const int w = image.Width();
        const int h = image.Height();
        switch (Pick(0, 4)) {
            case 0:
                return MaxRectHdr;
            case 1:
                return image.GetBounds();
            default: {
                const int left = Pick(-8, w);
                const int top = Pick(-8, h);
                return TRect{left, top, Pick(left - 2, w + 8), Pick(top - 2, h + 8)};
            }
        }
    }

    std::mt19937 m_random;
};

}  // namespace lumivex::test
