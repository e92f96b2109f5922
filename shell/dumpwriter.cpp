#include "dumpwriter.h"

#include "f0map.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <string>
#include <thread>

// The process's one writer thread and the slots it serves.
class DumpWriterThread
{
public:
    static void attach(DumpSlot* slot)
    {
        auto& s = state();
        std::lock_guard<std::mutex> lock(s.mutex);
        s.slots.push_back(slot);
        if (s.slots.size() == 1)
        {
            s.stop = false;
            try
            {
                s.thread = std::thread(run);
            }
            catch (...)
            {
                s.slots.clear();
                throw;
            }
        }
    }

    static void detach(DumpSlot* slot)
    {
        auto& s = state();
        std::thread finished;
        {
            std::lock_guard<std::mutex> lock(s.mutex);
            s.slots.erase(std::remove(s.slots.begin(), s.slots.end(), slot), s.slots.end());
            if (!s.slots.empty()) return;
            s.stop = true;
            finished = std::move(s.thread);
        }
        s.wake.notify_all();
        if (finished.joinable()) finished.join();
    }

private:
    struct State
    {
        std::mutex mutex;
        std::vector<DumpSlot*> slots;
        std::thread thread;
        bool stop = false;
        std::condition_variable wake;

        // The library is being unloaded or the process ends: a writer still running (a host
        // that never closed an effect) is stopped here rather than left joinable.
        ~State()
        {
            {
                std::lock_guard<std::mutex> lock(mutex);
                stop = true;
            }
            wake.notify_all();
            if (thread.joinable()) thread.join();
        }
    };
    static State& state()
    {
        static State s;
        return s;
    }

    static void run()
    {
        auto& s = state();
        std::unique_lock<std::mutex> lock(s.mutex);
        while (!s.stop)
        {
            for (DumpSlot* slot : s.slots)
                slot->writeWaiting(false);
            s.wake.wait_for(lock, std::chrono::milliseconds(10), [&] { return s.stop; });
        }
    }
};

namespace
{
// A map waiting longer than this is written; newer ones published meanwhile replace it.
constexpr std::chrono::milliseconds kWriteInterval(500);

std::string spareForNewSlot()
{
    static std::atomic<unsigned> slots{0};
    return f0MapSpareName(slots.fetch_add(1, std::memory_order_relaxed));
}
} // namespace

DumpSlot::DumpSlot(int m_)
    : m(std::max(m_, 0)), buffers(static_cast<size_t>(3 * kRows) * m), spare(spareForNewSlot())
{
    // Hosts that died without closing their effects leave their spares behind.
    sweepF0MapLeftovers();
    DumpWriterThread::attach(this);
}

DumpSlot::~DumpSlot()
{
    flush();
    DumpWriterThread::detach(this);
    std::lock_guard<std::mutex> lock(writeMutex);
    if (wroteAny) removeF0MapSpare(spare);
}

void DumpSlot::publish(const double* const* f0Map, const double* const* stabilityMap,
                       const F0ContourTrace& trace)
{
    double* out = buffers.data() + static_cast<size_t>(back) * kRows * m;
    const double* rows[kRows] = {f0Map[1],        f0Map[2],        f0Map[3],        f0Map[4],
                                 f0Map[5],        f0Map[6],        stabilityMap[1], stabilityMap[2],
                                 stabilityMap[3], stabilityMap[4], stabilityMap[5], stabilityMap[6],
                                 trace.best,      trace.base,      trace.step1,     trace.step2,
                                 trace.step3,     trace.step4};
    for (const double* row : rows)
    {
        std::copy(row, row + m, out);
        out += m;
    }
    back = middle.exchange(back | kFresh, std::memory_order_acq_rel) & 3;
}

void DumpSlot::writeWaiting(bool now)
{
    std::lock_guard<std::mutex> lock(writeMutex);
    if (!(middle.load(std::memory_order_acquire) & kFresh)) return;
    const auto time = std::chrono::steady_clock::now();
    if (!now && wroteAny && time - lastWrite < kWriteInterval) return;
    lastWrite = time;
    wroteAny = true;
    front = middle.exchange(front, std::memory_order_acq_rel) & 3;

    const double* map = buffers.data() + static_cast<size_t>(front) * kRows * m;
    const double* f0Rows[7] = {nullptr};
    const double* stabilityRows[7] = {nullptr};
    for (int b = 1; b < 7; ++b)
    {
        f0Rows[b] = map + static_cast<size_t>(b - 1) * m;
        stabilityRows[b] = map + static_cast<size_t>(b + 5) * m;
    }
    const double* contours = map + static_cast<size_t>(12) * m;
    // The trace type holds writable pointers; formatting only reads them.
    const F0ContourTrace trace{
        const_cast<double*>(contours),         const_cast<double*>(contours + m),
        const_cast<double*>(contours + 2 * m), const_cast<double*>(contours + 3 * m),
        const_cast<double*>(contours + 4 * m), const_cast<double*>(contours + 5 * m)};
    text.clear();
    formatF0Map(text, 7, m, f0Rows, stabilityRows, trace);
    exchangeF0MapFile(text, spare);
}

void DumpSlot::flush()
{
    writeWaiting(true);
}
