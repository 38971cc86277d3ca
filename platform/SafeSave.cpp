#include "platform/SafeSave.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <mutex>

namespace lumivex {
namespace {

// A file-size limit would otherwise kill the process with SIGXFSZ in the middle of a save;
// ignored, the write fails with EFBIG and the save reports it.
void IgnoreFileSizeSignal()
{
    static std::once_flag once;
    std::call_once(once, [] { std::signal(SIGXFSZ, SIG_IGN); });
}

mode_t NewFileMode(const std::string& target)
{
    struct stat st {};
    if (::stat(target.c_str(), &st) == 0)
        return st.st_mode & 07777;
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return 0666 & ~mask;
}

bool SyncFile(const std::string& path)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    const bool ok = ::fsync(fd) == 0;
    ::close(fd);
    return ok;
}

}  // namespace

bool SaveThroughTempFile(const std::string& target,
                         const std::function<bool(const std::string& tempPath)>& write,
                         std::string& error)
{
    IgnoreFileSizeSignal();
    const std::filesystem::path targetPath(target);
    std::filesystem::path folder = targetPath.parent_path();
    if (folder.empty())
        folder = ".";
    // Appended piece by piece: GCC 12 warns falsely (-Wrestrict) on a chained operator+ here.
    std::string name = ".";
    name.append(targetPath.filename().string());
    name.append(".XXXXXX");
    std::string temp = (folder / name).string();
    const int fd = ::mkstemp(temp.data());
    if (fd < 0) {
        error = "cannot create a file in \"" + folder.string() + "\": " + std::strerror(errno);
        return false;
    }
    ::fchmod(fd, NewFileMode(target));
    ::close(fd);

    bool ok = false;
    try {
        ok = write(temp);
    } catch (...) {
        std::remove(temp.c_str());
        throw;
    }
    if (!ok) {
        if (error.empty())
            error = "write failed";
    } else if (!SyncFile(temp)) {
        error = std::string("write failed: ") + std::strerror(errno);
        ok = false;
    } else if (std::rename(temp.c_str(), target.c_str()) != 0) {
        error = "cannot replace \"" + target + "\": " + std::strerror(errno);
        ok = false;
    }
    if (!ok)
        std::remove(temp.c_str());
    return ok;
}

}  // namespace lumivex
