#pragma once

// The two settings files and the main window's position. Both files live in the user's
// configuration folder ($XDG_CONFIG_HOME/LumivexHD/, else ~/.config/LumivexHD/): the program's
// own folder is normally read-only on Linux. Every routine takes the folder or file, so tests
// use a temporary one. Missing files, sections and keys give the defaults; failed writes are
// ignored (the next start uses the defaults).

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "core/BmpHdr.h"

namespace lumivex {

inline constexpr const char* MainSettingsName = "LumivexHD.ini";
/// The main window's designed size, kept when no stored bounds apply.
inline constexpr std::int32_t DesignedWindowWidth = 862;
inline constexpr std::int32_t DesignedWindowHeight = 591;

/// $XDG_CONFIG_HOME/LumivexHD when that is an absolute path, else $HOME/.config/LumivexHD (the
/// account's home folder when HOME is unset); empty when there is no home at all.
std::string SettingsFolder();
/// folder + "/LumivexHD.ini".
std::string MainSettingsFile(const std::string& folder);
/// The dialog settings file: the final ".ini" of the file name becomes "_Dialogs.ini" (a
/// name without it gets "_Dialogs.ini" appended); folders in the path are never touched.
std::string DialogsFileName(const std::string& mainSettingsFile);

/// What the settings need of the main window and the screens; the window layer implements it.
class TWindowStateTarget {
public:
    virtual ~TWindowStateTarget() = default;
    virtual bool IsMaximized() const = 0;
    virtual void SetMaximized() = 0;
    /// The window's normal bounds: Left, Top, Right, Bottom.
    virtual TRect BoundsRect() const = 0;
    virtual void SetBoundsRect(const TRect& bounds) = 0;
    /// The rectangles of all screens in desktop coordinates.
    virtual std::vector<TRect> ScreenRects() const = 0;
};

/// The smallest rectangle holding every screen (empty for none).
TRect VirtualDesktop(std::span<const TRect> screens);

/// Section "Position": "Maximized" = "1" maximises; otherwise Left, Top, Width and Height (-1
/// when missing or not a number) give a rectangle that, cut to the virtual desktop, becomes the
/// window's bounds when anything is left of it. Right and Bottom are worked out in 64 bits.
void LoadWindowState(const std::string& fileName, TWindowStateTarget& window);
/// Writes "Maximized" and, for a window that is not maximised, its bounds; creates the folder
/// when needed.
void SaveWindowState(const std::string& fileName, const TWindowStateTarget& window);

/// A decimal 32-bit integer with an optional sign and nothing else (blanks around are
/// allowed), or `fallback`.
std::int32_t TextToIntDef(const std::string& text, std::int32_t fallback);

}  // namespace lumivex
