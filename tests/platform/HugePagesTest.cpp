#include <gtest/gtest.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <utility>

#include "platform/HugePages.h"

using namespace lumivex;

namespace {

constexpr const char* Madvise = "always [madvise] never\n";
constexpr const char* ReportVariable = "LUMIVEX_TEST_HUGE_PAGES_REPORT";

std::string ReadAll(const std::string& path)
{
    std::ifstream file(path);
    return std::string((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
}

}  // namespace

TEST(HugePageTunables, AsksOnlyWhenTheKernelGivesHugePagesOnRequestAndNothingIsSaidYet)
{
    EXPECT_EQ(HugePageTunables(Madvise, nullptr), "glibc.malloc.hugetlb=1");
    EXPECT_EQ(HugePageTunables(Madvise, ""), "glibc.malloc.hugetlb=1");
    EXPECT_EQ(HugePageTunables(Madvise, "glibc.malloc.arena_max=2"),
              "glibc.malloc.arena_max=2:glibc.malloc.hugetlb=1");
    // The user's own choice stands, small pages included.
    EXPECT_EQ(HugePageTunables(Madvise, "glibc.malloc.hugetlb=0"), std::nullopt);
    EXPECT_EQ(HugePageTunables(Madvise, "glibc.malloc.tcache_count=0:glibc.malloc.hugetlb=1"),
              std::nullopt);
    // Every process has them already, or none may: a restart would change nothing.
    EXPECT_EQ(HugePageTunables("[always] madvise never\n", nullptr), std::nullopt);
    EXPECT_EQ(HugePageTunables("always madvise [never]\n", nullptr), std::nullopt);
    EXPECT_EQ(HugePageTunables("", nullptr), std::nullopt);  // no such file
}

// Run only by the restart below, in the restarted test program: says what it was started
// with, and whether asking again returns instead of restarting a second time.
TEST(HugePagesRestart, DISABLED_ReportsWhatTheRestartedProgramSees)
{
    const char* report = std::getenv(ReportVariable);
    if (report == nullptr)
        GTEST_SKIP();
    const char* tunables = std::getenv("GLIBC_TUNABLES");
    char name[] = "platform_tests";
    char* argv[] = {name, nullptr};
    UseHugePages(argv);
    std::ofstream(report) << (tunables != nullptr ? tunables : "(unset)") << "\nreturned\n";
}

TEST(HugePagesRestart, RestartsOnceWithTheTunableAndTheSameArguments)
{
    if (ReadAll("/sys/kernel/mm/transparent_hugepage/enabled").find("[madvise]") ==
        std::string::npos)
        GTEST_SKIP() << "the kernel does not hand out huge pages on request here";
    const std::string report = (std::filesystem::temp_directory_path() /
                                ("lumivex_huge_pages_" + std::to_string(getpid())))
                                   .string();
    std::filesystem::remove(report);
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        unsetenv("GLIBC_TUNABLES");
        unsetenv("LUMIVEX_HUGE_PAGES_RESTARTED");
        setenv(ReportVariable, report.c_str(), 1);
        char name[] = "platform_tests";
        char filter[] = "--gtest_filter=HugePagesRestart.DISABLED_*";
        char disabled[] = "--gtest_also_run_disabled_tests";
        char* argv[] = {name, filter, disabled, nullptr};
        UseHugePages(argv);
        _exit(99);  // no restart happened
    }
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_EQ(ReadAll(report), "glibc.malloc.hugetlb=1\nreturned\n");
    std::filesystem::remove(report);
}

namespace {

constexpr std::size_t Piece = TPageChooser::PieceBytes;

// Runs `pieces` pieces through the chooser, each kind costing what `cost` answers for the
// piece's index, in ns per piece; answers the ns spent on each kind.
template <typename TCost>
std::pair<double, double> RunPieces(TPageChooser& chooser, int pieces, TCost cost)
{
    double huge = 0.0;
    double small = 0.0;
    for (int i = 0; i < pieces; ++i) {
        const TPageKind kind = chooser.Next();
        const double ns = cost(kind, i);
        (kind == TPageKind::pkHuge ? huge : small) += ns;
        chooser.Record(kind, ns, Piece);
    }
    return {huge, small};
}

}  // namespace

// Both kinds are measured before either is favoured, two threads faulting at once included;
// small pages win only when clearly cheaper, since huge ones also spare translations.
TEST(PageChooser, MeasuresBothKindsThenFavoursTheClearlyCheaperOne)
{
    TPageChooser chooser;
    EXPECT_EQ(chooser.Favourite(), TPageKind::pkHuge);
    EXPECT_EQ(chooser.Next(), TPageKind::pkHuge);
    EXPECT_EQ(chooser.Next(), TPageKind::pkSmall);  // the first piece is still being faulted
    chooser.Record(TPageKind::pkSmall, 2e6, Piece);
    chooser.Record(TPageKind::pkHuge, 2.5e6, Piece);
    for (int i = 0; i < 4; ++i) {
        const TPageKind kind = chooser.Next();
        chooser.Record(kind, kind == TPageKind::pkHuge ? 2.5e6 : 2e6, Piece);
    }
    EXPECT_TRUE(chooser.Measured());
    EXPECT_EQ(chooser.Favourite(), TPageKind::pkHuge);  // a quarter cheaper is not enough

    TPageChooser clear;
    RunPieces(clear, 6, [](TPageKind kind, int) { return kind == TPageKind::pkHuge ? 20e6 : 2e6; });
    EXPECT_TRUE(clear.Measured());
    EXPECT_EQ(clear.Favourite(), TPageKind::pkSmall);

    TPageChooser unsized;  // a piece of nothing, or a clock that ran backwards, says nothing
    for (int i = 0; i < 6; ++i)
        unsized.Record(unsized.Next(), i % 2 == 0 ? -1.0 : 5e6, i % 2 == 0 ? Piece : 0);
    EXPECT_FALSE(unsized.Measured());
}

// The first huge pages of a pause are warm and the first small ones slow, as on a host that
// reports freed memory back; a piece that lost its core is no measure. Over a large image the
// chooser still ends on the kind that is cheaper by then, and trying the other costs at most
// about an eighth of the time.
TEST(PageChooser, FollowsTheSteadyCostAndBoundsItsTrials)
{
    TPageChooser chooser;
    const auto [huge, small] = RunPieces(chooser, 96, [](TPageKind kind, int i) {
        if (i == 40)
            return 120e6;  // preempted
        if (kind == TPageKind::pkHuge)
            return i < 8 ? 0.8e6 : 20e6;
        return i < 12 ? 20e6 : 2e6;
    });
    EXPECT_EQ(chooser.Favourite(), TPageKind::pkSmall);
    EXPECT_LT(huge, 0.5 * (huge + small));

    // Small pages stay cheap: trials of huge pages take a bounded share.
    const auto [trials, steady] = RunPieces(
        chooser, 2000, [](TPageKind kind, int) { return kind == TPageKind::pkHuge ? 20e6 : 2e6; });
    EXPECT_GT(trials, 0.0);  // huge pages are still tried now and then
    EXPECT_LT(trials, steady / 6.0);
    EXPECT_EQ(chooser.Favourite(), TPageKind::pkSmall);

    // Memory freed a moment ago makes huge pages cheap again: the chooser comes back to them.
    int switched = -1;
    RunPieces(chooser, 400, [&](TPageKind kind, int i) {
        if (switched < 0 && chooser.Favourite() == TPageKind::pkHuge)
            switched = i;
        return kind == TPageKind::pkHuge ? 0.5e6 : 2e6;
    });
    EXPECT_EQ(chooser.Favourite(), TPageKind::pkHuge);
    EXPECT_GE(switched, 0);
    EXPECT_LT(switched, 100);
}

// The favourite of the process decides for memory it does not fault in itself, through the
// process-wide switch, which is on again while a huge piece is tried.
TEST(PageChooser, TheProcessFollowsItsFavourite)
{
    if (PageCostsMeasured() || ::prctl(PR_GET_THP_DISABLE, 0, 0, 0, 0) < 0)
        GTEST_SKIP() << "small pages only, or no switch here";
    const auto feed = [](double hugeNs, double smallNs, int pieces) {
        for (int i = 0; i < pieces; ++i) {
            const TPageKind kind = NextPageKind();
            RecordPageCost(kind, kind == TPageKind::pkHuge ? hugeNs : smallNs, Piece);
        }
    };
    feed(20e6, 2e6, 6);
    EXPECT_TRUE(PageCostsMeasured());
    EXPECT_EQ(::prctl(PR_GET_THP_DISABLE, 0, 0, 0, 0), 1);
    // While a huge piece is out, the switch lets it have huge pages.
    TPageKind kind = TPageKind::pkSmall;
    for (int i = 0; i < 1000 && kind == TPageKind::pkSmall; ++i) {
        kind = NextPageKind();
        if (kind == TPageKind::pkSmall)
            RecordPageCost(kind, 2e6, Piece);
    }
    ASSERT_EQ(kind, TPageKind::pkHuge);
    EXPECT_EQ(::prctl(PR_GET_THP_DISABLE, 0, 0, 0, 0), 0);
    RecordPageCost(kind, 20e6, Piece);
    EXPECT_EQ(::prctl(PR_GET_THP_DISABLE, 0, 0, 0, 0), 1);
    feed(0.5e6, 2e6, 400);
    EXPECT_EQ(::prctl(PR_GET_THP_DISABLE, 0, 0, 0, 0), 0);
}
