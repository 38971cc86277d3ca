#include "platform/HugePages.h"

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>

namespace lumivex {

namespace {

constexpr std::string_view HugeTlbTunable = "glibc.malloc.hugetlb";
// Set across the restart, so that a C library that consumed the tunables cannot loop it.
constexpr const char* RestartedVariable = "LUMIVEX_HUGE_PAGES_RESTARTED";

}  // namespace

std::optional<std::string> HugePageTunables(std::string_view thpMode, const char* current)
{
    if (thpMode.find("[madvise]") == std::string_view::npos)
        return std::nullopt;
    const std::string_view tunables = current != nullptr ? current : "";
    if (tunables.find(HugeTlbTunable) != std::string_view::npos)
        return std::nullopt;
    std::string value(tunables);
    if (!value.empty())
        value += ':';
    value += HugeTlbTunable;
    value += "=1";
    return value;
}

void UseHugePages(char** argv)
{
    if (argv == nullptr || argv[0] == nullptr || std::getenv(RestartedVariable) != nullptr)
        return;
    std::ifstream file("/sys/kernel/mm/transparent_hugepage/enabled");
    const std::string mode((std::istreambuf_iterator<char>(file)),
                           std::istreambuf_iterator<char>());
    const char* current = std::getenv("GLIBC_TUNABLES");
    const std::optional<std::string> value = HugePageTunables(mode, current);
    if (!value)
        return;
    const std::string saved = current != nullptr ? current : "";
    if (setenv("GLIBC_TUNABLES", value->c_str(), 1) != 0 || setenv(RestartedVariable, "1", 1) != 0)
        return;
    // The program's own path rather than /proc/self/exe, so that the restarted process keeps
    // its name in ps and top.
    std::error_code error;
    const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", error);
    execv(error ? "/proc/self/exe" : self.c_str(), argv);
    // Still here: run on with small pages, and leave the variables as they were.
    unsetenv(RestartedVariable);
    if (current != nullptr)
        setenv("GLIBC_TUNABLES", saved.c_str(), 1);
    else
        unsetenv("GLIBC_TUNABLES");
}

}  // namespace lumivex
