#pragma once

#include <string>

namespace lumivex {

/// Why the last file routine of this thread failed. File routines answer false and leave this
/// behind; nothing throws across the file bridge.
enum class TFileErrorCode {
    feNone,
    feCannotOpen,       ///< missing, unreadable or not a regular file
    feUnknownFormat,    ///< no reader recognises the contents or the extension
    feTooLarge,         ///< the size does not fit the image model or the memory
    feCorrupt,          ///< the decoder refused the data
    feUnsupportedType,  ///< a pixel type with no conversion to float RGBA
    feOutOfMemory,
    feTimeout,  ///< the isolated decoder ran past its time limit
    feCrashed,  ///< the isolated decoder died
    feWriteFailed,
    feNoWriter,  ///< no writer for that format or pixel layout
};

struct TFileStatus {
    TFileErrorCode Code = TFileErrorCode::feNone;
    std::string Message;  ///< short English text without the file name
};

const TFileStatus& LastFileStatus();
void SetFileStatus(TFileErrorCode code, std::string message);
void ClearFileStatus();
/// Keeps the first reason: a later, vaguer failure of the same call does not overwrite it.
void SetFileStatusIfClear(TFileErrorCode code, std::string message);

}  // namespace lumivex
