// The LV2 plug-in's audio thread as an LV2 host runs it: inside run() the plug-in makes no heap
// call and no system call at all, while the host changes every control between calls, at call
// lengths of 1 to 8192 frames and at 44.1 and 48 kHz, across the analysed blocks of a sung line.
//
// Heap calls are counted by replacing the allocation functions of this executable (the plug-in's
// calls resolve to them); system calls by a seccomp filter on the audio thread that hands each of
// its calls to a supervising thread, which counts those made inside run() and lets every call go
// on. The plug-in is instantiated, activated and freed on the test's own thread, as a host does.
#include "f0signals.h"

#include <gtest/gtest.h>

#include <lilv/lilv.h>

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
thread_local bool insideRun = false;
std::atomic<long> heapCalls{0};
std::atomic<bool> audioInsideRun{false};
std::atomic<long> systemCalls{0};
std::atomic<long> lastSystemCall{-1};

void countHeapCall()
{
    if (insideRun) heapCalls.fetch_add(1, std::memory_order_relaxed);
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

// Answers every notification with "go on", counting those raised inside run(), until the watched
// thread is gone.
void superviseSystemCalls(int fd)
{
    for (;;)
    {
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, 1000) < 0) continue;
        if (p.revents & (POLLHUP | POLLERR)) break;
        if (!(p.revents & POLLIN)) continue;
        seccomp_notif request{};
        if (ioctl(fd, SECCOMP_IOCTL_NOTIF_RECV, &request) != 0) continue;
        if (audioInsideRun.load())
        {
            systemCalls.fetch_add(1);
            lastSystemCall = request.data.nr;
        }
        seccomp_notif_resp response{};
        response.id = request.id;
        response.flags = SECCOMP_USER_NOTIF_FLAG_CONTINUE;
        ioctl(fd, SECCOMP_IOCTL_NOTIF_SEND, &response);
    }
    close(fd);
}

// Runs fn on a new thread under the filter, supervised from the calling thread (a supervisor
// under the filter would have to answer for its own calls). False when the kernel offers no such
// filter.
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
    double rate;
    uint32_t callLength;
};

class Lv2RealTime : public ::testing::Test
{
protected:
    void SetUp() override
    {
        world = lilv_world_new();
        LilvNode* bundle = lilv_new_uri(world, "file://" HALVERN_LV2_BUNDLE "/");
        lilv_world_load_bundle(world, bundle);
        lilv_node_free(bundle);
        LilvNode* uri = lilv_new_uri(world, "urn:brakk:halvern");
        plugin = lilv_plugins_get_by_uri(lilv_world_get_all_plugins(world), uri);
        lilv_node_free(uri);
        ASSERT_NE(plugin, nullptr);
    }
    void TearDown() override { lilv_world_free(world); }

    // Runs a sung line through a new instance on a watched audio thread; the host writes new
    // values into every control port before each call (Pitch and Formant sweep, the switches
    // alternate), as automation does.
    void runWatched(const Scenario& s)
    {
        const size_t length = static_cast<size_t>(2.5 * s.rate);
        const auto sung = f0signal::vowel(f0signal::vibrato(190.0, 0.03, 5.0), s.rate, length);
        const std::vector<float> input(sung.begin(), sung.end());
        std::vector<float> output(input.size());

        LilvInstance* instance = lilv_plugin_instantiate(plugin, s.rate, nullptr);
        ASSERT_NE(instance, nullptr);
        float controls[15] = {};
        float latency = 0.0f;
        for (uint32_t k = 0; k < 15; ++k)
            lilv_instance_connect_port(instance, k, &controls[k]);
        lilv_instance_connect_port(instance, 17, &latency);
        lilv_instance_activate(instance);

        const auto audio = [&]
        {
            size_t call = 0;
            for (size_t at = 0; at < input.size(); at += s.callLength, ++call)
            {
                const auto n =
                    static_cast<uint32_t>(std::min<size_t>(s.callLength, input.size() - at));
                controls[0] = -12.0f + static_cast<float>(call % 241) * 0.1f;
                controls[1] = 12.0f - static_cast<float>(call % 97) * 0.25f;
                for (uint32_t k = 2; k < 15; ++k)
                    controls[k] = (call + k) % 2 ? 1.0f : 0.0f;
                lilv_instance_connect_port(instance, 15, const_cast<float*>(input.data() + at));
                lilv_instance_connect_port(instance, 16, output.data() + at);
                insideRun = true;
                audioInsideRun = true;
                lilv_instance_run(instance, n);
                audioInsideRun = false;
                insideRun = false;
            }
        };
        EXPECT_TRUE(runOnWatchedThread(audio)) << "no seccomp listener";
        lilv_instance_deactivate(instance);
        lilv_instance_free(instance);
        EXPECT_GT(latency, 0.0f);
    }

    LilvWorld* world = nullptr;
    const LilvPlugin* plugin = nullptr;
};

TEST_F(Lv2RealTime, NoHeapOrSystemCallInsideRun)
{
    const Scenario scenarios[] = {
        {44100.0, 1}, {44100.0, 64}, {44100.0, 512}, {48000.0, 128}, {48000.0, 8192},
    };
    for (const Scenario& s : scenarios)
    {
        heapCalls = 0;
        systemCalls = 0;
        runWatched(s);
        EXPECT_EQ(heapCalls.load(), 0) << s.rate << " Hz, calls of " << s.callLength;
        EXPECT_EQ(systemCalls.load(), 0) << s.rate << " Hz, calls of " << s.callLength
                                         << ", last call number " << lastSystemCall;
    }
}

// The counters see what they should: an allocation and a system call made where the plug-in's
// would be are counted.
TEST(Lv2RealTimeCounters, SeeHeapAndSystemCalls)
{
    heapCalls = 0;
    systemCalls = 0;
    ASSERT_TRUE(runOnWatchedThread(
        []
        {
            insideRun = true;
            audioInsideRun = true;
            void* p = std::malloc(100);
            std::free(p);
            getppid();
            audioInsideRun = false;
            insideRun = false;
        }));
    EXPECT_EQ(heapCalls.load(), 2);
    EXPECT_GE(systemCalls.load(), 1);
}

} // namespace

#else

TEST(Lv2RealTime, NoHeapOrSystemCallInsideRun)
{
    GTEST_SKIP() << "the sanitizer replaces the allocation functions this test counts through";
}

#endif
