#pragma once

#include <functional>
#include <string>

namespace lumivex {

/// Saving never destroys a good file: `write` fills a temporary file in the target's folder,
/// which replaces the target only when `write` answered true and the data reached the disk.
/// On any failure the temporary file is removed, the target is untouched, and `error` says why.
bool SaveThroughTempFile(const std::string& target,
                         const std::function<bool(const std::string& tempPath)>& write,
                         std::string& error);

}  // namespace lumivex
