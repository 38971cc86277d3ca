#include "app/Labels.h"

#include <cctype>
#include <charconv>

namespace lumivex {

std::string CleanCaption(const std::string& text)
{
    std::string s;
    s.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '&') {
            s += text[i];
        } else if (i + 1 < text.size() && text[i + 1] == '&') {
            s += '&';
            ++i;
        }
    }
    if (s.size() >= 3 && s.compare(s.size() - 3, 3, "...") == 0)
        s.resize(s.size() - 3);
    if (!s.empty() && s.back() == ':')
        s.pop_back();
    const auto first = s.find_first_not_of(' ');
    if (first == std::string::npos)
        return {};
    const auto last = s.find_last_not_of(' ');
    return s.substr(first, last - first + 1);
}

std::string MakeLabel(const std::string& text, int kind)
{
    std::string label = CleanCaption(text);
    if (label.empty())
        return {};
    label[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(label[0])));
    switch (kind) {
        case 0:
            return " " + label + " ";
        case 1:
            return label + "...";
        case 2:
            return label + " :";
        case 3:
            return "- " + label;
        default:
            return label;
    }
}

std::string MakeValueFormat(const std::string& text, int kind)
{
    const std::string label = MakeLabel(text, 2);
    if (label.empty())
        return {};
    switch (kind) {
        case 0:
            return label + " %d";
        case 1:
            return label + " %.2f";
        case 2:
            return label + " %d%%";
        case 3:
            return label + " %d\u00B0";
        default:
            return label;
    }
}

std::string SizeText(std::int64_t bytes)
{
    if (bytes < 2)
        return std::to_string(bytes) + " byte";
    if (bytes < 1024)
        return std::to_string(bytes) + " bytes";
    double value = static_cast<double>(bytes) / 1024.0;
    const char* unit = "Kb";
    if (bytes >= 1024 * 1024 * 1024) {
        value /= 1048576.0;
        unit = "Gb";
    } else if (bytes >= 1024 * 1024) {
        value /= 1024.0;
        unit = "Mb";
    }
    // to_chars: a point whatever the locale (Qt sets the user's LC_NUMERIC at start-up).
    char text[64];
    const auto end = std::to_chars(text, text + sizeof text, value, std::chars_format::fixed, 2);
    return std::string(text, end.ptr) + " " + unit;
}

}  // namespace lumivex
