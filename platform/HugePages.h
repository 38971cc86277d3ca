#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace lumivex {

/// The GLIBC_TUNABLES value that asks malloc to back its heap with transparent huge pages, or
/// nothing when no restart would change anything: the kernel's mode (the text of
/// /sys/kernel/mm/transparent_hugepage/enabled) gives them to every process or to none, or the
/// variable (`current`, null when unset) already says what malloc should do.
std::optional<std::string> HugePageTunables(std::string_view thpMode, const char* current);

/// A 24-megapixel float image is 384 MB that every load, resize and turn faults in: in 4 KB
/// pages that is about 94000 faults, a large share of the work (several times the decoding on a
/// virtual machine). When the kernel hands out huge pages only on request, the program restarts
/// itself once, before anything else runs, with malloc asking for them. Returns when no restart
/// is needed or the restart failed; the program then runs as it is.
/// GLIBC_TUNABLES=glibc.malloc.hugetlb=0 keeps small pages. Where fresh small pages turn out
/// cheaper, the page chooser below turns huge ones off again.
void UseHugePages(char** argv);

/// The two ways a piece of fresh memory can be faulted in.
enum class TPageKind : std::uint8_t { pkHuge, pkSmall };

/// Picks, piece by piece, the page kind whose first touch has lately cost less per byte. What a
/// fresh page costs depends on the host more than on the program: on some virtual machines a
/// fresh huge page costs several times the same bytes in small pages, on others the reverse,
/// and memory freed a moment ago is cheap in either. So both kinds are measured while memory is
/// faulted in, the cheaper one is used, and the other is tried again now and then, for at most
/// an eighth of the time spent on the favourite. Not thread-safe.
class TPageChooser {
public:
    /// The bytes of a piece, two huge pages.
    static constexpr std::size_t PieceBytes = std::size_t{4} << 20;
    /// Measurements of each kind before the cheaper one is favoured.
    static constexpr int Samples = 3;

    /// The kind for the next piece; every piece handed out is to be recorded.
    TPageKind Next();
    /// What faulting in `bytes` of `kind` took.
    void Record(TPageKind kind, double nanoseconds, std::size_t bytes);
    /// The kind used when nothing is being tried: huge until small pages have shown themselves
    /// clearly cheaper, since huge pages also spare the address translations of every pass.
    TPageKind Favourite() const;
    /// Whether both kinds have been measured enough to have a favourite.
    bool Measured() const;

private:
    struct TCosts {
        std::array<double, Samples> NsPerMb{};  // the last measurements, oldest overwritten
        std::size_t At = 0;                     // where the next one goes
        int Count = 0;                          // measurements held, up to Samples
        int Pending = 0;                        // pieces handed out, not yet recorded
        // The cheapest of the last few: a piece that lost its core, or the first pieces after
        // a pause, cost more than the kind does.
        double Estimate() const;
    };
    TCosts& Of(TPageKind kind) { return m_costs[kind == TPageKind::pkHuge ? 0 : 1]; }
    const TCosts& Of(TPageKind kind) const { return m_costs[kind == TPageKind::pkHuge ? 0 : 1]; }

    std::array<TCosts, 2> m_costs{};
    double m_sinceOther = 0.0;  // ns spent on the favourite since the other kind was tried
};

/// The process's chooser (thread-safe): the kind of the next piece of fresh memory, always small
/// pages where GLIBC_TUNABLES says glibc.malloc.hugetlb=0.
TPageKind NextPageKind();
/// What a piece of NextPageKind took. The rest of the process's memory (the heap, the libraries'
/// buffers, decoder children forked from then on) follows the favourite: huge pages are turned
/// off for the whole process while small ones are cheaper.
void RecordPageCost(TPageKind kind, double nanoseconds, std::size_t bytes);
/// Whether the process's chooser has measured both kinds (always true with small pages only).
bool PageCostsMeasured();

}  // namespace lumivex
