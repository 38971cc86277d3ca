#pragma once

// The one open document: its view (which owns the image), its history and its file, and the
// open, save and close commands with their file dialogs. Every accessor is safe to call without
// a document. File names use "/" as their only folder separator.
//
// The document's view and the dialogs are Qt widgets; this header only names them, so that
// the operations and the history commands can use the document without including Qt.

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "core/BmpHdr.h"
#include "io/FreeHdr.h"

class QFileDialog;

class QWidget;

namespace lumivex {

class TScrollBoxHdr;
class TUndoList;
class TBmpList;

/// The number of records the document's history keeps.
inline constexpr std::int32_t DocumentUndoDepth = 7;
/// The name of a document made by merging.
inline constexpr const char* MergedDocumentName = "Merge HDR";

/// The save dialog's file types, in order, joined with "|" into one filter.
inline constexpr std::array<const char*, 6> SaveFilterItems{
    "BMP|*.bmp", "JPEG|*.jpg", "PNG|*.png", "TIFF|*.tif", "HDR|*.hdr", "OpenEXR|*.exr"};

// Accessors.
bool IsDocumentOpen();
TScrollBoxHdr* GetView();
/// The image every operation edits, or null.
TBmpHdr* GetImage();
/// The region operations and region records cover; it follows the image's size. Empty
/// without a document.
TRect GetWorkRect();
TUndoList* GetUndoList();
/// The file name after its last "/" when the document has a file; the whole name ("Merge HDR")
/// otherwise; empty without a document.
std::string GetDocumentName();
/// The full file name (or "Merge HDR"); empty without a document.
std::string GetDocumentFileName();
bool DocumentHasFile();
std::int32_t GetSavedUndoId();
/// The saved image of the history's current record, or null.
const TBmpHdr* GetUndoImage();
/// Invalidates the view; with now also repaints it at once.
void RefreshView(bool now);
/// Repaints the invalid parts of the view at once.
void UpdateView();
TImageKind GetDocumentKind();
void SetDocumentKind(TImageKind kind);
/// A document is open and its kind is not ikStandard.
bool IsHighDynamic();
void ClearHighDynamic();
bool IsDocumentModified();
bool FileErrorOccurred();
/// 0 after a successful file operation, -1 after a failed load, -2 after a failed or
/// abandoned save.
std::int32_t LastFileError();
/// Changes with every document created, so that state kept for one document (the repeat
/// command) is recognised as stale once another one is open.
std::uint32_t DocumentSerial();

/// A resolution from a file or a history record: finite values of 1 to 1,000,000 pixels per
/// inch stay, anything else gives 72.
float SaneDpi(float dpi);

// Documents.
/// Loads through FreeImage (in a child process). An empty name asks the open dialog first; an
/// empty answer returns false with no error. False with LastFileError -1 when the load fails.
bool OpenWithFreeImage(std::string& fileName, QWidget* parent);
/// The same through our own BMP and JPEG readers (opaque, ikStandard, 72 DPI).
bool OpenWithPlatform(std::string& fileName, QWidget* parent);
/// Makes the document of an image: a view on parent that takes the image, a history of
/// DocumentUndoDepth records, the work rectangle on the image bounds.
void CreateDocument(const std::string& fileName, TBmpHdr image, QWidget* parent,
                    const TImageInfo& info);
/// A document from a merge of the list; it has no file and counts as modified.
void NewMergedDocument(const TBmpList& list, QWidget* parent);
/// Saves under fileName, or, when it is empty, under a name the save dialog asks for with
/// defaultName proposed. A failure other than the user's own No or Cancel shows an error
/// naming the file. False when nothing was written.
bool SaveDocument(const std::string& fileName, const std::string& defaultName);
/// Destroys view, image and history; true when there was a document.
bool CloseDocument();
/// True when the image has no transparency to lose, or the user agrees to lose it.
bool ConfirmAlphaLoss();
/// Asks about unsaved changes and closes the document: false when the user cancels or the
/// save does not succeed (the reason was shown).
bool QueryCloseDocument();
/// The message after a successful open: high range warns and keeps its kind, high precision
/// informs and becomes standard.
void ShowOpenAdvice();

// File names.
/// "_HD" before the first "." of the part after the last "/"; a leading "." (a hidden file)
/// does not count. Names without a "." there stay unchanged.
std::string AddHdSuffix(const std::string& fileName);
/// The extension from the last "." of the part after the last "/" (with the dot), or empty.
std::string ExtractFileExt(const std::string& fileName);
/// The name with its extension replaced by ext (or ext appended when it has none).
std::string ChangeFileExt(const std::string& fileName, const std::string& ext);
/// The extension of a filter item's mask: "PNG|*.png" gives ".png" (up to a ";").
std::string FilterItemExt(const std::string& item);
/// The 1-based index of the save filter item whose extension equals the name's exactly
/// (case-sensitive), 6 (OpenEXR) when none does.
int SaveFilterIndexOf(const std::string& fileName);
/// The save dialog's name box after the user picks file type filterIndex (1-based): the typed
/// name, however long, with that type's extension; an empty box or an unknown index stays as it
/// is.
std::string RetypedFileName(const std::string& typed, int filterIndex);

// Dialogs. The hooks replace the Qt file dialogs when set (tests, scripted use).
struct TSaveAnswer {
    std::string FileName;  ///< empty: cancelled
    int FilterIndex = 0;   ///< 1-based item of SaveFilterItems chosen
};
/// (filter, several names allowed) -> chosen names, none for Cancel.
inline std::function<std::vector<std::string>(const std::string& filter, bool multi)> OnOpenDialog;
/// (proposed name, 1-based filter index) -> answer.
inline std::function<TSaveAnswer(const std::string& proposed, int filterIndex)> OnSaveDialog;
/// Called with the Qt save dialog just before it runs (tests drive the real dialog through it).
inline std::function<void(QFileDialog& dialog)> OnSaveDialogShown;

/// The open dialog; filter empty: all images (or JPEG without FreeImage). With a list, several
/// names may be chosen and all go there. name is empty for Cancel.
void OpenImageDialog(const std::string& filter, std::vector<std::string>* list, std::string& name);
/// The save dialog with the six file types; an unknown or missing extension of the chosen name
/// takes the selected type's. name is empty for Cancel.
void SaveImageDialog(const std::string& defaultName, std::string& name);

}  // namespace lumivex
