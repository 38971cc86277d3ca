#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

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
