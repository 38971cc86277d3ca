#pragma once

// The history commands of the document: opening a record before an operation in one of four
// modes, undo and redo with the document state that goes with the pixels (kind, resolution,
// transparency), the captions of the Edit menu and the repeat store.

#include <cstdint>
#include <functional>
#include <string>

namespace lumivex {

class TUndoItem;

enum TUndoMode : std::uint8_t {
    umStateOnly = 0,   ///< no pixels, only the document state (a resolution change)
    umWholeImage = 1,  ///< the whole image with its size
    umFadable = 2,     ///< the work rectangle; the Fade command may blend it
    umRegion = 3,      ///< the work rectangle, not fadable
};

// Tags of a record as BeginUndo sets them.
inline constexpr int TagFade = 0;         ///< 100 for umFadable, else -1 (not fadable)
inline constexpr int TagMode = 1;         ///< the undo mode
inline constexpr int TagKind = 2;         ///< the document's TImageKind when the record opened
inline constexpr int TagDpi = 3;          ///< the view's resolution x 1000, rounded
inline constexpr int TagTransparent = 4;  ///< the view's transparency flag (0, 1)

/// What the history commands need of the main window; unset hooks are skipped.
struct THistoryHooks {
    std::function<void()> BeginWait;
    std::function<void()> EndWait;
    /// Bit 1: the modified indicator and the Undo and Redo buttons.
    std::function<void(int mask)> UpdateToolbar;
    /// Bit 1 thumbnail, bit 2 histogram.
    std::function<void(int mask)> UpdateSidePanel;
};
THistoryHooks& HistoryHooks();

/// Opens a record for the coming operation on the document image; nothing without a document.
/// Only out-of-memory escapes, and then no record was added.
void BeginUndo(std::uint8_t mode, const std::string& caption);

bool CanUndo();
bool CanRedo();
bool HasUndo();
bool CanFade();
/// The current record's fade tag when it is fadable, else -1.
std::int32_t GetFadeValue();
/// A repeat command is stored for the open document and not blocked.
bool CanRepeat();

/// "Undo" or "Undo " + the current record's caption; likewise for the others (Fade ends "...").
std::string UndoCaption();
std::string RedoCaption();
std::string FadeCaption();
std::string RepeatCaption();

/// The current record's saved pixels back into the image (taking back a preview).
void RestoreCurrent(bool invalidate);
/// Drops the newest record of a cancelled operation, with restore first putting its pixels
/// back; the repeat command is cleared.
void CancelLastUndo(bool restore);

/// The document state of a record and the live one change places.
void SwapViewState(TUndoItem& item);

/// What an undo or redo did, for the refresh that follows.
struct TUndoStep {
    bool Done = false;
    std::uint8_t Mode = umStateOnly;
    bool SizeChanged = false;
};
/// Undo of the document's history with its state; nothing when CanUndo is false.
TUndoStep UndoDocument();
TUndoStep RedoDocument();
/// Carries the modified state into the history, then clears it.
void ClearUndoHistories();

/// Stores the command Edit > Repeat runs; an empty caption takes the current record's. The
/// command belongs to the open document and is forgotten with it.
void SetRepeat(const std::string& caption, std::int32_t blocking, std::function<void()> command);
void ClearRepeat();
/// Runs the stored command when CanRepeat.
void RunRepeat();

}  // namespace lumivex
