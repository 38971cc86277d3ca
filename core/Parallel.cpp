#include "core/Parallel.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <exception>
#include <thread>
#include <vector>

#include "core/Progress.h"

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
        auto run = [&, band] {
            try {
                body(band, bandStart(band), bandStart(band + 1));
            } catch (...) {
                errors[static_cast<std::size_t>(band)] = std::current_exception();
            }
        };
        // A thread that cannot start (no memory, no threads left) must not leave the running
        // ones unjoined: the calling thread does that band itself, the result is the same.
        try {
            workers.emplace_back(run);
        } catch (...) {
            run();
        }
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

std::int64_t BandBegin(std::int64_t count, int bands, int band)
{
    return bands <= 0 ? 0 : count * band / bands;
}

struct TStepShared {
    std::int64_t Count = 0;
    std::int64_t FirstStep = 0;
    std::atomic<std::int64_t> Done{0};
    std::atomic<bool> Stop{false};
    std::atomic<int> Finished{0};
    std::int64_t Reported = 0;  // calling thread only
};

bool TStepGate::Step()
{
    FinishLast();
    if (m_reporter && !CatchUp())
        return false;
    if (m_shared.Stop.load(std::memory_order_relaxed))
        return false;
    m_started = true;
    return true;
}

bool TStepGate::CatchUp()
{
    while (m_shared.Reported < m_shared.Count &&
           m_shared.Reported <= m_shared.Done.load(std::memory_order_acquire)) {
        if (m_shared.Stop.load(std::memory_order_relaxed))
            return false;
        if (!FilterProgress(psStep,
                            static_cast<std::int32_t>(m_shared.FirstStep + m_shared.Reported))) {
            m_shared.Stop.store(true);
            return false;
        }
        ++m_shared.Reported;
    }
    return !m_shared.Stop.load(std::memory_order_relaxed);
}

void TStepGate::FinishLast()
{
    if (m_started)
        m_shared.Done.fetch_add(1, std::memory_order_release);
    m_started = false;
}

bool ProgressBands(std::int64_t count, int bands,
                   const std::function<void(int, std::int64_t, std::int64_t)>& prepare,
                   const std::function<void(int, std::int64_t, std::int64_t, TStepGate&)>& body,
                   std::int64_t firstStep)
{
    if (count <= 0)
        return true;
    bands = static_cast<int>(std::clamp<std::int64_t>(bands, 1, count));
    for (int band = 0; band < bands; ++band)
        prepare(band, BandBegin(count, bands, band), BandBegin(count, bands, band + 1));
    TStepShared shared;
    shared.Count = count;
    shared.FirstStep = firstStep;
    ParallelBands(bands, 0, count, [&](int band, std::int64_t first, std::int64_t last) {
        TStepGate gate(shared, band == 0);
        if (band != 0) {
            // Counted even when the body throws, or the calling thread would wait forever.
            struct TFinish {
                TStepShared& S;
                TStepGate& G;
                ~TFinish()
                {
                    G.FinishLast();
                    S.Finished.fetch_add(1, std::memory_order_release);
                }
            } finish{shared, gate};
            body(band, first, last, gate);
            return;
        }
        body(band, first, last, gate);
        gate.FinishLast();
        // Keep reporting, in order, while the other bands finish.
        while (shared.Finished.load(std::memory_order_acquire) < bands - 1) {
            gate.CatchUp();
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        gate.CatchUp();
    });
    return !shared.Stop.load();
}

}  // namespace lumivex
