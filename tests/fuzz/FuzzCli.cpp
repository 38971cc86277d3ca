// The command line on arbitrary arguments (one per input line): every combination of options,
// commands and values ends in an exit code with a message for usage errors, never a crash. The
// tool runs in an empty folder and no argument may name a path, so nothing it is asked to read
// exists and nothing is ever written; the folder must still be empty afterwards.
#include <dirent.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "FuzzFiles.h"
#include "cli/Cli.h"

namespace {

bool FolderIsEmpty()
{
    DIR* dir = ::opendir(fuzz::Folder().c_str());
    if (dir == nullptr)
        return false;
    bool empty = true;
    while (const dirent* entry = ::readdir(dir)) {
        const std::string name = entry->d_name;
        if (name != "." && name != "..")
            empty = false;
    }
    ::closedir(dir);
    return empty;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    fuzz::MakeFolder("lumivex-fuzzcli-");
    if (::chdir(fuzz::Folder().c_str()) != 0)
        std::abort();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size > 1024)
        return 0;
    const std::string text(reinterpret_cast<const char*>(data), size);
    std::vector<std::string> args;
    std::size_t start = 0;
    while (start <= text.size() && args.size() < 16) {
        const std::size_t end = std::min(text.find('\n', start), text.size());
        args.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    for (const std::string& a : args)
        if (a.find('/') != std::string::npos || a.find('\0') != std::string::npos)
            return 0;
    std::ostringstream out;
    std::ostringstream err;
    const int code = lumivex::RunCli(args, out, err);
    if (code != lumivex::ceSuccess && code != lumivex::ceFailure && code != lumivex::ceUsage)
        __builtin_trap();
    if (code != lumivex::ceSuccess && err.str().empty())
        __builtin_trap();
    if (!FolderIsEmpty())
        __builtin_trap();
    return 0;
}
