#pragma once

// The engine operations the command line can run, written "name:key=value,key=value".

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "core/BmpHdr.h"

namespace lumivex {

// ptColorOrNone also takes the word "none" for clNoneHdr (stored as -1, -1, -1, -1).
enum class TParamType : std::uint8_t { ptFloat, ptInt, ptColor, ptColorOrNone };

struct TParamDef {
    std::string Key;
    TParamType Type;
    double Min;
    double Max;
    std::vector<double> Default;  // one value, four for colours (R, G, B, A)
};

/// Parsed values by key (colours as R, G, B, A), plus the region.
struct TOpArgs {
    std::map<std::string, std::vector<double>> Values;
    TRect Rect = MaxRectHdr;

    float F(const std::string& key) const { return static_cast<float>(Values.at(key).at(0)); }
    int I(const std::string& key) const { return static_cast<int>(Values.at(key).at(0)); }
};

struct TOperationDef {
    std::string Name;
    std::string Summary;
    std::vector<TParamDef> Params;
    std::function<void(TBmpHdr& image, const TOpArgs& args)> Run;
};

struct TOperation {
    const TOperationDef* Def = nullptr;
    TOpArgs Args;
};

const std::vector<TOperationDef>& OperationTable();

/// Parses one operation word; throws std::invalid_argument with a message naming the operation,
/// the key and the allowed range.
TOperation ParseOperation(const std::string& word);

/// The table as text, one operation per line with its parameters, types, ranges and defaults.
std::string DescribeOperations();

}  // namespace lumivex
