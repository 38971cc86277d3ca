#pragma once

// Every text the user reads, in one place. Texts are UTF-8; messages put a blank before "!" and
// "?". Formats take printf arguments.

#include <cstdint>

namespace lumivex {

// Message box: headings by kind, buttons.
inline constexpr const char* SWarning = "Warning";
inline constexpr const char* SError = "Error";
inline constexpr const char* SInformation = "Information";
inline constexpr const char* SConfirmation = "Confirmation";
inline constexpr const char* SBtnYes = "&Yes";
inline constexpr const char* SBtnNo = "&No";
inline constexpr const char* SBtnOk = "Ok";
inline constexpr const char* SBtnCancel = "Cancel";

// Messages.
inline constexpr const char* SSaveChanges = "Save changes before continuing ?";
/// %s: the file name.
inline constexpr const char* SUnableToLoad = "Unable to load image in file \"%s\" !";
inline constexpr const char* SToneMappingNeeded =
    "You should apply a \"Tone Mapping\" before continuing !";
inline constexpr const char* SToneMappingAdvised =
    "It is better to apply a \"Tone Mapping\" before continuing !";
inline constexpr const char* SCompleteFields = "Complete all the fields before continuing !";
inline constexpr const char* SInvalidImageOrSize = "Invalid image or size";
/// The original broke the line with a carriage return; Qt labels break at "\n".
inline constexpr const char* STransparencyUnsupported =
    "The current format does not support the transparency !\nDo you want to continue ?";
inline constexpr const char* SInvalidData = "Invalid data !";
/// %s: the file name.
inline constexpr const char* SUnableToSave = "Unable to save image in file \"%s\" !";
inline constexpr const char* SOutOfMemory =
    "Not enough memory to complete the operation !\nThe image was put back as it was.";
/// %s: the reason.
inline constexpr const char* SOperationFailed =
    "The operation failed (%s) !\nThe image was put back as it was.";
/// %s: FreeImage's version; the original broke its lines with carriage returns.
inline constexpr const char* SAboutFreeImage =
    "This program uses FreeImage, a free, open source image library\nsupporting all common "
    "bitmap formats (%s).\nSee https://freeimage.sourceforge.io for more information.";
// The about box.
inline constexpr const char* SAboutCaption = "About Lumivex HD";
/// %s: the program's version.
inline constexpr const char* SAboutVersion = "Version %s";
/// %s: the image library's version.
inline constexpr const char* SAboutFreeImageVersion = "Images read and written with FreeImage %s";
inline constexpr const char* SAboutNoFreeImage = "FreeImage is not installed: BMP and JPEG only";

// History commands.
inline constexpr const char* SUndo = "Undo";
inline constexpr const char* SRedo = "Redo";
inline constexpr const char* SFade = "Fade";
inline constexpr const char* SRepeat = "Repeat";

// Status bar.
inline constexpr const char* SProcessing = "Processing";
inline constexpr const char* SReady = "Ready";
inline constexpr const char* SAlpha = "Alpha";

// Colour pickers: the entry that opens the colour dialog.
inline constexpr const char* SColorOther = "Other color";

// Zoom box of the toolbar.
inline constexpr const char* SZoomAuto = "<Auto>";
/// Percent, then the fraction n:d; two blanks before the parenthesis.
inline constexpr const char* SZoomLevelFormat = "%d%%  (%d:%d)";

/// The heading of a message kind (0 warning, 1 error, 2 information, 3 confirmation); empty for
/// any other kind, whose heading the caller chooses.
const char* MessageKindCaption(std::uint8_t kind);

}  // namespace lumivex
