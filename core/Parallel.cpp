#include "core/Parallel.h"

#include <algorithm>
#include <atomic>
#include <exception>
#include <thread>
#include <vector>

namespace lumivex {
namespace {

int HardwareThreads()
{
    const unsigned n = std::thread::hardware_concurrency();
    return n == 0 ? 1 : static_cast<int>(std::min(n, 64u));
}

std::atomic<int>& ThreadSetting()
{
    static std::atomic<int> count{HardwareThreads()};
    return count;
}

}  // namespace

int ThreadCount() { return ThreadSetting().load(); }

void SetThreadCount(int count)
{
    ThreadSetting().store(count < 1 ? HardwareThreads() : std::min(count, 64));
}

int BandCount(std::int64_t items, std::int64_t minItemsPerBand)
{
    if (items <= 0)
        return 0;
    const std::int64_t byWork =
        std::max<std::int64_t>(1, items / std::max<std::int64_t>(1, minItemsPerBand));
    return static_cast<int>(std::min<std::int64_t>(ThreadCount(), byWork));
}

void ParallelBands(int bands, std::int64_t begin, std::int64_t end,
                   const std::function<void(int, std::int64_t, std::int64_t)>& body)
{
    const std::int64_t count = end - begin;
    if (count <= 0 || bands <= 0)
        return;
    bands = static_cast<int>(std::min<std::int64_t>(bands, count));
    auto bandStart = [&](int band) { return begin + count * band / bands; };
    if (bands == 1) {
        body(0, begin, end);
        return;
    }
    std::vector<std::exception_ptr> errors(static_cast<std::size_t>(bands));
    std::vector<std::thread> workers;
    workers.reserve(static_cast<std::size_t>(bands - 1));
    for (int band = 1; band < bands; ++band) {
        workers.emplace_back([&, band] {
            try {
                body(band, bandStart(band), bandStart(band + 1));
            } catch (...) {
                errors[static_cast<std::size_t>(band)] = std::current_exception();
            }
        });
    }
    try {
        body(0, bandStart(0), bandStart(1));
    } catch (...) {
        errors[0] = std::current_exception();
    }
    for (std::thread& t : workers)
        t.join();
    for (const std::exception_ptr& e : errors)
        if (e)
            std::rethrow_exception(e);
}

void ParallelRows(std::int64_t begin, std::int64_t end,
                  const std::function<void(std::int64_t, std::int64_t)>& body,
                  std::int64_t minRowsPerBand)
{
    ParallelBands(BandCount(end - begin, minRowsPerBand), begin, end,
                  [&](int, std::int64_t first, std::int64_t last) { body(first, last); });
}

}  // namespace lumivex
