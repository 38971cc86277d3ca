// Runs a fuzz target's entry point over every file of the folders on the command line, so the
// kept corpus and the crash cases found by fuzzing are replayed by the ordinary test run (and
// under the sanitizers) without clang or libFuzzer. A harness that traps fails the test.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <system_error>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);
extern "C" __attribute__((weak)) int LLVMFuzzerInitialize(int* argc, char*** argv);

namespace {

std::vector<std::filesystem::path> InputsOf(const std::filesystem::path& folder)
{
    std::vector<std::filesystem::path> files;
    std::error_code error;
    for (std::filesystem::recursive_directory_iterator it(folder, error), end; !error && it != end;
         it.increment(error))
        if (it->is_regular_file())
            files.push_back(it->path());
    std::sort(files.begin(), files.end());  // the same order on every run
    return files;
}

}  // namespace

int main(int argc, char** argv)
{
    // Absolute first: a target may change its working folder when it starts.
    std::vector<std::filesystem::path> folders;
    for (int i = 1; i < argc; ++i)
        folders.push_back(std::filesystem::absolute(argv[i]));
    if (LLVMFuzzerInitialize != nullptr)
        LLVMFuzzerInitialize(&argc, &argv);
    std::size_t count = 0;
    for (const std::filesystem::path& folder : folders) {
        if (!std::filesystem::is_directory(folder))
            continue;  // a target may have no crash cases yet
        for (const std::filesystem::path& file : InputsOf(folder)) {
            std::ifstream in(file, std::ios::binary);
            const std::vector<char> bytes((std::istreambuf_iterator<char>(in)),
                                          std::istreambuf_iterator<char>());
            if (!in.eof() && in.fail()) {
                std::fprintf(stderr, "cannot read %s\n", file.c_str());
                return 1;
            }
            // A copy of its own, as libFuzzer gives, so a read past the end is caught; like
            // libFuzzer, never a null pointer, even for an empty input.
            const std::vector<std::uint8_t> data(bytes.begin(), bytes.end());
            static const std::uint8_t none = 0;
            LLVMFuzzerTestOneInput(data.empty() ? &none : data.data(), data.size());
            ++count;
        }
    }
    std::printf("%zu inputs replayed\n", count);
    return count > 0 ? 0 : 1;
}
