#include "app/Settings.h"

#include <pwd.h>
#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <cstdlib>
#include <filesystem>
#include <string_view>
#include <system_error>

#include "platform/IniFile.h"

namespace lumivex {
namespace {

constexpr const char* PositionSection = "Position";
constexpr const char* Missing = "ERR";

std::string HomeFolder()
{
    const char* home = std::getenv("HOME");
    if (home != nullptr && home[0] != '\0')
        return home;
    const passwd* account = ::getpwuid(::getuid());
    return account != nullptr && account->pw_dir != nullptr ? account->pw_dir : "";
}

}  // namespace

std::string SettingsFolder()
{
    const char* config = std::getenv("XDG_CONFIG_HOME");
    // Relative values are to be ignored, as the base-directory rules say.
    if (config != nullptr && config[0] == '/')
        return (std::filesystem::path(config) / "LumivexHD").string();
    const std::string home = HomeFolder();
    if (home.empty())
        return "";
    return (std::filesystem::path(home) / ".config" / "LumivexHD").string();
}

std::string MainSettingsFile(const std::string& folder)
{
    return (std::filesystem::path(folder) / MainSettingsName).string();
}

std::string DialogsFileName(const std::string& mainSettingsFile)
{
    const std::filesystem::path path(mainSettingsFile);
    std::string name = path.filename().string();
    constexpr std::string_view ini = ".ini";
    if (name.size() >= ini.size() && name.compare(name.size() - ini.size(), ini.size(), ini) == 0)
        name.resize(name.size() - ini.size());
    name += "_Dialogs.ini";
    return (path.parent_path() / name).string();
}

TRect VirtualDesktop(std::span<const TRect> screens)
{
    TRect desktop;
    bool first = true;
    for (const TRect& s : screens) {
        if (s.IsEmpty())
            continue;
        if (first) {
            desktop = s;
            first = false;
            continue;
        }
        desktop.Left = std::min(desktop.Left, s.Left);
        desktop.Top = std::min(desktop.Top, s.Top);
        desktop.Right = std::max(desktop.Right, s.Right);
        desktop.Bottom = std::max(desktop.Bottom, s.Bottom);
    }
    return desktop;
}

std::int32_t TextToIntDef(const std::string& text, std::int32_t fallback)
{
    std::string_view s(text);
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t'))
        s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t'))
        s.remove_suffix(1);
    if (!s.empty() && s.front() == '+')
        s.remove_prefix(1);
    std::int32_t value = 0;
    const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), value);
    if (s.empty() || ec != std::errc() || end != s.data() + s.size())
        return fallback;
    return value;
}

void LoadWindowState(const std::string& fileName, TWindowStateTarget& window)
{
    const TIniFile ini(fileName);
    if (ini.ReadString(PositionSection, "Maximized", Missing) == "1") {
        window.SetMaximized();
        return;
    }
    auto number = [&](const char* key) {
        return std::int64_t{TextToIntDef(ini.ReadString(PositionSection, key, Missing), -1)};
    };
    const std::int64_t left = number("Left");
    const std::int64_t top = number("Top");
    const std::int64_t width = number("Width");
    const std::int64_t height = number("Height");
    // 64 bits: a stored left edge and width near the 32-bit limits must not wrap around.
    const std::int64_t right = width == -1 ? -1 : left + width;
    const std::int64_t bottom = height == -1 ? -1 : top + height;
    const std::vector<TRect> screens = window.ScreenRects();
    const TRect desktop = VirtualDesktop(screens);
    const std::int64_t l = std::max<std::int64_t>(left, desktop.Left);
    const std::int64_t t = std::max<std::int64_t>(top, desktop.Top);
    const std::int64_t r = std::min<std::int64_t>(right, desktop.Right);
    const std::int64_t b = std::min<std::int64_t>(bottom, desktop.Bottom);
    if (r - l > 0 && b - t > 0)
        window.SetBoundsRect(TRect{static_cast<std::int32_t>(l), static_cast<std::int32_t>(t),
                                   static_cast<std::int32_t>(r), static_cast<std::int32_t>(b)});
}

void SaveWindowState(const std::string& fileName, const TWindowStateTarget& window)
{
    const std::filesystem::path folder = std::filesystem::path(fileName).parent_path();
    std::error_code ignored;
    if (!folder.empty())
        std::filesystem::create_directories(folder, ignored);
    TIniFile ini(fileName);
    const bool maximized = window.IsMaximized();
    ini.WriteString(PositionSection, "Maximized", maximized ? "1" : "0");
    if (!maximized) {
        const TRect bounds = window.BoundsRect();
        ini.WriteString(PositionSection, "Left", std::to_string(bounds.Left));
        ini.WriteString(PositionSection, "Top", std::to_string(bounds.Top));
        ini.WriteString(PositionSection, "Width",
                        std::to_string(std::int64_t{bounds.Right} - bounds.Left));
        ini.WriteString(PositionSection, "Height",
                        std::to_string(std::int64_t{bounds.Bottom} - bounds.Top));
    }
    ini.Flush();  // a failed write is ignored: the next start uses the defaults
}

}  // namespace lumivex
