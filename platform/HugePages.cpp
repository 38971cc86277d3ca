#include "platform/HugePages.h"

#include <pthread.h>
#include <sys/prctl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <mutex>

namespace lumivex {

namespace {

constexpr std::string_view HugeTlbTunable = "glibc.malloc.hugetlb";
// Set across the restart, so that a C library that consumed the tunables cannot loop it.
constexpr const char* RestartedVariable = "LUMIVEX_HUGE_PAGES_RESTARTED";

constexpr double BytesPerMb = 1024.0 * 1024.0;
// Small pages become the favourite only when this many times cheaper: a measured tie keeps huge
// pages, which also spare address translations.
constexpr double SmallMargin = 1.5;
// The other kind is tried again once the favourite has taken this many times what one piece of
// the other kind is expected to take: the trials cost at most an eighth of the time.
constexpr double TrialRatio = 8.0;

std::mutex g_pageMutex;
TPageChooser g_pageChooser;
int g_hugeInFlight = 0;  // huge pieces being faulted in, which need huge pages on
bool g_hugeOff = false;  // whether huge pages are turned off for the process

// Small pages only where the user said so for the heap, or where whoever started the program
// turned huge pages off for it.
bool SmallPagesOnly()
{
    static const bool only = [] {
        const char* tunables = std::getenv("GLIBC_TUNABLES");
        const std::string off = std::string(HugeTlbTunable) + "=0";
        return (tunables != nullptr &&
                std::string_view(tunables).find(off) != std::string_view::npos) ||
               ::prctl(PR_GET_THP_DISABLE, 0, 0, 0, 0) > 0;
    }();
    return only;
}

// A decoder child is forked while other threads may be choosing: the lock is held across the
// fork, so that the child's copy of it is never left locked by a thread it does not have.
const int g_forkGuard = ::pthread_atfork([] { g_pageMutex.lock(); }, [] { g_pageMutex.unlock(); },
                                         [] { g_pageMutex.unlock(); });

// Under g_pageMutex. The process-wide switch wins over any request of a mapping, so it is on
// while a huge piece is being tried.
void FollowFavourite()
{
    const bool off = g_hugeInFlight == 0 && g_pageChooser.Favourite() == TPageKind::pkSmall;
    if (off != g_hugeOff && ::prctl(PR_SET_THP_DISABLE, off ? 1 : 0, 0, 0, 0) == 0)
        g_hugeOff = off;
}

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

// ---------------------------------------------------------------------------------------------
// TPageChooser

double TPageChooser::TCosts::Estimate() const
{
    return Count == 0 ? 0.0 : *std::min_element(NsPerMb.begin(), NsPerMb.begin() + Count);
}

TPageKind TPageChooser::Next()
{
    TPageKind kind = Favourite();
    if (!Measured()) {
        // Alternate until each kind has its measurements.
        const TCosts& huge = Of(TPageKind::pkHuge);
        const TCosts& small = Of(TPageKind::pkSmall);
        kind = huge.Count + huge.Pending <= small.Count + small.Pending ? TPageKind::pkHuge
                                                                        : TPageKind::pkSmall;
    } else {
        const TPageKind other = kind == TPageKind::pkHuge ? TPageKind::pkSmall : TPageKind::pkHuge;
        const double otherPiece =
            Of(other).Estimate() * static_cast<double>(PieceBytes) / BytesPerMb;
        if (Of(other).Pending == 0 && m_sinceOther >= TrialRatio * otherPiece) {
            kind = other;
            m_sinceOther = 0.0;
        }
    }
    ++Of(kind).Pending;
    return kind;
}

void TPageChooser::Record(TPageKind kind, double nanoseconds, std::size_t bytes)
{
    TCosts& costs = Of(kind);
    if (costs.Pending > 0)
        --costs.Pending;
    if (bytes == 0 || !(nanoseconds >= 0.0))
        return;
    if (Measured() && kind == Favourite())
        m_sinceOther += nanoseconds;
    costs.NsPerMb[costs.At] = nanoseconds / (static_cast<double>(bytes) / BytesPerMb);
    costs.At = (costs.At + 1) % Samples;
    costs.Count = std::min(costs.Count + 1, Samples);
}

TPageKind TPageChooser::Favourite() const
{
    return Measured() && Of(TPageKind::pkSmall).Estimate() * SmallMargin <
                             Of(TPageKind::pkHuge).Estimate()
               ? TPageKind::pkSmall
               : TPageKind::pkHuge;
}

bool TPageChooser::Measured() const
{
    return Of(TPageKind::pkHuge).Count >= Samples && Of(TPageKind::pkSmall).Count >= Samples;
}

TPageKind NextPageKind()
{
    if (SmallPagesOnly())
        return TPageKind::pkSmall;
    const std::lock_guard lock(g_pageMutex);
    const TPageKind kind = g_pageChooser.Next();
    if (kind == TPageKind::pkHuge) {
        ++g_hugeInFlight;
        FollowFavourite();
    }
    return kind;
}

void RecordPageCost(TPageKind kind, double nanoseconds, std::size_t bytes)
{
    if (SmallPagesOnly())
        return;
    const std::lock_guard lock(g_pageMutex);
    g_pageChooser.Record(kind, nanoseconds, bytes);
    if (kind == TPageKind::pkHuge && g_hugeInFlight > 0)
        --g_hugeInFlight;
    FollowFavourite();
}

bool PageCostsMeasured()
{
    if (SmallPagesOnly())
        return true;
    const std::lock_guard lock(g_pageMutex);
    return g_pageChooser.Measured();
}

}  // namespace lumivex
