#include "io/FileStatus.h"

#include <utility>

namespace lumivex {
namespace {

TFileStatus& Status()
{
    thread_local TFileStatus status;
    return status;
}

}  // namespace

const TFileStatus& LastFileStatus() { return Status(); }

void SetFileStatus(TFileErrorCode code, std::string message)
{
    Status().Code = code;
    Status().Message = std::move(message);
}

void ClearFileStatus() { SetFileStatus(TFileErrorCode::feNone, {}); }

void SetFileStatusIfClear(TFileErrorCode code, std::string message)
{
    if (Status().Code == TFileErrorCode::feNone)
        SetFileStatus(code, std::move(message));
}

}  // namespace lumivex
