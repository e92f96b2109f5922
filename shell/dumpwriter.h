// Hands each analysed block's map from the audio thread to a writer thread that rewrites
// f0map.txt, so the audio thread never formats text or touches a file.
//
// One writer thread serves every effect of the process: it starts with the first DumpSlot and
// stops with the last. The audio thread copies the map's numbers into its slot and publishes
// them with one atomic exchange (triple buffering: no lock, no allocation, no system call). The
// writer looks at every slot about every 10 ms and writes the newest map it finds, at most twice
// a second per slot: a map still waiting when a newer one is published is replaced by it, and a
// dump costs about as much as a fifth of a block's analysis. Suspend and close write at once.
#pragma once

#include "f0contour.h"

#include <atomic>
#include <chrono>
#include <mutex>
#include <string>
#include <vector>

class DumpSlot
{
public:
    // Rows of one map: bands 1 .. 6 of the candidates and of the stabilities, then BEST, base
    // and step1 .. step4.
    static constexpr int kRows = 18;

    // Room for maps of m frames; registers with the writer (starting it if needed).
    // Throws std::bad_alloc or std::system_error when it cannot.
    explicit DumpSlot(int m);
    // Writes what is still waiting, then leaves the writer (stopping it with the last slot).
    ~DumpSlot();
    DumpSlot(const DumpSlot&) = delete;
    DumpSlot& operator=(const DumpSlot&) = delete;

    // Audio thread: copies the map of one block and publishes it. No allocation, lock or I/O.
    void publish(const double* const* f0Map, const double* const* stabilityMap,
                 const F0ContourTrace& trace);

    // Any thread but the audio thread: returns once every map published so far is written (or
    // skipped because the dump's place cannot be written).
    void flush();

private:
    friend class DumpWriterThread;
    friend class DumpSlotProbe; // tests: which buffer each side holds
    // Writes the newest published map, if one is waiting (and, unless now, the slot's last write
    // is long enough ago). Holds writeMutex: the writer thread and flush never write the same
    // slot at once, so the file always ends with the newest map.
    void writeWaiting(bool now);

    int m;
    std::vector<double> buffers; // three maps of kRows * m values
    int back = 0;                // audio thread's buffer
    int front = 1;               // writer's buffer
    // The third buffer's index, with kFresh set while it holds a map not yet taken.
    std::atomic<int> middle{2};
    static constexpr int kFresh = 4;
    std::mutex writeMutex;
    // The writer's own side, under writeMutex.
    const std::string spare; // this slot's spare file beside the dump
    std::string text;
    std::chrono::steady_clock::time_point lastWrite;
    bool wroteAny = false;
};
