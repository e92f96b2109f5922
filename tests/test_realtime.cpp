// The audio thread's contract seen from a host: inside processReplacing the plug-in makes no heap
// call and no system call at all, whatever the host block size, controls or rate.
//
// Heap calls are counted by replacing the allocation functions of this executable (the plug-in's
// calls resolve to them); system calls by a seccomp filter on the audio thread that hands each of
// its calls to a supervising thread here, which counts those made inside processReplacing and lets
// every call go on.
#include "testsupport.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define HALVERN_SANITIZED 1
#endif

#ifndef HALVERN_SANITIZED
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace
{
thread_local bool insideProcess = false;
std::atomic<long> heapCalls{0};
std::atomic<bool> audioInsideProcess{false};
std::atomic<long> systemCalls{0};
std::atomic<long> lastSystemCall{-1};

void countHeapCall()
{
    if (insideProcess) heapCalls.fetch_add(1, std::memory_order_relaxed);
}
} // namespace

extern "C"
{
    void* __libc_malloc(size_t);
    void* __libc_calloc(size_t, size_t);
    void* __libc_realloc(void*, size_t);
    void* __libc_memalign(size_t, size_t);
    void __libc_free(void*);

    void* malloc(size_t n)
    {
        countHeapCall();
        return __libc_malloc(n);
    }
    void* calloc(size_t n, size_t size)
    {
        countHeapCall();
        return __libc_calloc(n, size);
    }
    void* realloc(void* p, size_t n)
    {
        countHeapCall();
        return __libc_realloc(p, n);
    }
    void free(void* p)
    {
        if (p) countHeapCall();
        __libc_free(p);
    }
    void* aligned_alloc(size_t alignment, size_t n)
    {
        countHeapCall();
        return __libc_memalign(alignment, n);
    }
    void* memalign(size_t alignment, size_t n)
    {
        countHeapCall();
        return __libc_memalign(alignment, n);
    }
    int posix_memalign(void** p, size_t alignment, size_t n)
    {
        countHeapCall();
        *p = __libc_memalign(alignment, n);
        return *p ? 0 : 12; // ENOMEM
    }
}

namespace
{
// Puts the calling thread under a filter that turns each of its system calls into a notification
// on the returned descriptor; -1 when the kernel refuses.
int watchSystemCalls()
{
    if (prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0) return -1;
    sock_filter filter[] = {BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_USER_NOTIF)};
    sock_fprog program{1, filter};
    return static_cast<int>(
        syscall(SYS_seccomp, SECCOMP_SET_MODE_FILTER, SECCOMP_FILTER_FLAG_NEW_LISTENER, &program));
}

// Answers every notification with "go on", counting those raised inside processReplacing, until
// the watched thread is gone.
void superviseSystemCalls(int fd)
{
    seccomp_notif request{};
    seccomp_notif_resp response{};
    for (;;)
    {
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, 1000) < 0) continue;
        if (p.revents & (POLLHUP | POLLERR)) break;
        if (!(p.revents & POLLIN)) continue;
        request = {};
        if (ioctl(fd, SECCOMP_IOCTL_NOTIF_RECV, &request) != 0) continue;
        if (audioInsideProcess.load())
        {
            systemCalls.fetch_add(1);
            lastSystemCall = request.data.nr;
        }
        response = {};
        response.id = request.id;
        response.flags = SECCOMP_USER_NOTIF_FLAG_CONTINUE;
        ioctl(fd, SECCOMP_IOCTL_NOTIF_SEND, &response);
    }
    close(fd);
}

// Runs fn on a new thread under the filter, supervised from the calling thread (a supervisor
// started under the filter would have to answer for its own calls). False when the kernel offers
// no such filter.
bool runOnWatchedThread(const std::function<void()>& fn)
{
    std::atomic<int> state{-2}; // -2 starting, then the descriptor or -1, then -3 = go
    std::thread watched(
        [&]
        {
            const int fd = watchSystemCalls();
            state = fd;
            if (fd < 0) return;
            while (state.load() != -3)
                ; // spinning makes no system call the supervisor would have to answer yet
            fn();
        });
    while (state.load() == -2)
        std::this_thread::yield();
    const int fd = state.load();
    if (fd < 0)
    {
        watched.join();
        return false;
    }
    std::thread supervisor(superviseSystemCalls, fd);
    state = -3;
    watched.join();
    supervisor.join();
    return true;
}

struct Scenario
{
    std::string name;
    size_t blockSize;
    bool rateChange;
    bool unwritableDump;
};

// Runs the scenario's host on a watched audio thread; the effect is opened, set up and closed on
// this thread, as a host's dispatcher would.
void runWatched(const Scenario& s, const std::vector<float>& input)
{
    const std::string root = std::string(HALVERN_TEST_OUTPUT_DIR) + "/realtime_" + s.name;
    std::system(("rm -rf '" + root + "'").c_str());
    std::system(("mkdir -p '" + root + "'").c_str());
    std::string cache = root;
    if (s.unwritableDump)
    {
        cache = root + "/plain-file";
        std::system(("echo x > '" + cache + "'").c_str());
    }
    ::setenv("XDG_CACHE_HOME", cache.c_str(), 1);

    auto host = testsupport::loadPlugin();
    host->setParameter(0, 0.5f + 700.0f / 2400.0f);
    host->setParameter(1, 0.5f - 500.0f / 2400.0f);
    host->setParameter(2, 1.0f);
    host->resume();
    std::vector<float> output(input.size());

    const auto processAll = [&](size_t from, size_t to)
    {
        for (size_t k = from; k < to; k += s.blockSize)
        {
            const auto n = static_cast<VstInt32>(std::min(s.blockSize, to - k));
            insideProcess = true;
            audioInsideProcess = true;
            host->process(input.data() + k, output.data() + k, n);
            audioInsideProcess = false;
            insideProcess = false;
        }
    };
    const auto onAudioThread = [&](size_t from, size_t to)
    { ASSERT_TRUE(runOnWatchedThread([&] { processAll(from, to); })) << "no seccomp listener"; };

    const size_t half = input.size() / 2;
    onAudioThread(0, s.rateChange ? half : input.size());
    if (s.rateChange)
    {
        host->suspend();
        host->setSampleRate(48000.0f);
        host->resume();
        onAudioThread(half, input.size());
    }
    host->close();
}
} // namespace

TEST(RealTime, NoHeapOrSystemCallInsideProcessReplacing)
{
    const auto voice = testsupport::pulseTrain(180.0, 44100.0, 44100 * 3);
    const auto breath = testsupport::noise(44100, 0.05f);
    std::vector<float> input = voice;
    input.insert(input.end(), breath.begin(), breath.end());
    input.insert(input.end(), voice.begin(), voice.end());

    const Scenario scenarios[] = {
        {"block1", 1, false, false},       {"block64", 64, false, false},
        {"block4096", 4096, false, false}, {"block65536", 65536, false, false},
        {"ratechange", 64, true, false},   {"unwritable", 512, false, true},
    };
    for (const Scenario& s : scenarios)
    {
        heapCalls = 0;
        systemCalls = 0;
        runWatched(s, input);
        EXPECT_EQ(heapCalls.load(), 0) << s.name;
        EXPECT_EQ(systemCalls.load(), 0) << s.name << ", last call number " << lastSystemCall;
    }
}

// The counters above really see what they should: an allocation and a file call made where the
// plug-in's would be are counted.
TEST(RealTime, TheCountersSeeHeapAndSystemCalls)
{
    heapCalls = 0;
    systemCalls = 0;
    ASSERT_TRUE(runOnWatchedThread(
        []
        {
            insideProcess = true;
            audioInsideProcess = true;
            void* p = std::malloc(100);
            std::free(p);
            getppid(); // a call the C library always makes
            audioInsideProcess = false;
            insideProcess = false;
        }));
    EXPECT_EQ(heapCalls.load(), 2);
    EXPECT_GE(systemCalls.load(), 1);
}

#else

TEST(RealTime, NoHeapOrSystemCallInsideProcessReplacing)
{
    GTEST_SKIP() << "the sanitizer replaces the allocation functions this test counts through";
}

#endif
