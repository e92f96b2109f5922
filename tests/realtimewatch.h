// Watching a thread the way a real-time audio thread must behave: heap calls are counted by
// replacing this executable's allocation functions (a loaded plug-in's calls resolve to them), and
// every system call by a seccomp filter on the watched thread that hands each call to a
// supervising thread, which counts those made inside the watched section and lets every call go
// on. Include in exactly one source file of a test program. Not with a sanitizer, which owns the
// allocation functions (HALVERN_REALTIME_WATCH is left undefined then).
#pragma once

#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
#define HALVERN_REALTIME_WATCH 1

#include <linux/filter.h>
#include <linux/seccomp.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <cstddef>
#include <functional>
#include <thread>

namespace realtimewatch
{
inline thread_local bool countingHere = false;
inline std::atomic<bool> watchedInside{false};
inline std::atomic<long> heapCalls{0};
inline std::atomic<long> systemCalls{0};
inline std::atomic<long> lastSystemCall{-1};

inline void resetCounts()
{
    heapCalls = 0;
    systemCalls = 0;
    lastSystemCall = -1;
}

// Marks the calling (watched) thread as inside the section whose calls count.
inline void enter()
{
    countingHere = true;
    watchedInside = true;
}
inline void leave()
{
    watchedInside = false;
    countingHere = false;
}

inline void countHeapCall()
{
    if (countingHere) heapCalls.fetch_add(1, std::memory_order_relaxed);
}

// Puts the calling thread under a filter that turns each of its system calls into a notification
// on the returned descriptor; -1 when the kernel refuses.
inline int watchSystemCalls()
{
    if (prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0) return -1;
    sock_filter filter[] = {BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_USER_NOTIF)};
    sock_fprog program{1, filter};
    return static_cast<int>(
        syscall(SYS_seccomp, SECCOMP_SET_MODE_FILTER, SECCOMP_FILTER_FLAG_NEW_LISTENER, &program));
}

// Answers every notification with "go on", counting those raised inside the watched section,
// until the watched thread is gone.
inline void superviseSystemCalls(int fd)
{
    for (;;)
    {
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, 1000) < 0) continue;
        if (p.revents & (POLLHUP | POLLERR)) break;
        if (!(p.revents & POLLIN)) continue;
        seccomp_notif request{};
        if (ioctl(fd, SECCOMP_IOCTL_NOTIF_RECV, &request) != 0) continue;
        if (watchedInside.load())
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
// started under the filter would have to answer for its own calls). False when the kernel offers
// no such filter.
inline bool runOnWatchedThread(const std::function<void()>& fn)
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
} // namespace realtimewatch

extern "C"
{
    void* __libc_malloc(size_t);
    void* __libc_calloc(size_t, size_t);
    void* __libc_realloc(void*, size_t);
    void* __libc_memalign(size_t, size_t);
    void __libc_free(void*);

    void* malloc(size_t n)
    {
        realtimewatch::countHeapCall();
        return __libc_malloc(n);
    }
    void* calloc(size_t n, size_t size)
    {
        realtimewatch::countHeapCall();
        return __libc_calloc(n, size);
    }
    void* realloc(void* p, size_t n)
    {
        realtimewatch::countHeapCall();
        return __libc_realloc(p, n);
    }
    void free(void* p)
    {
        if (p) realtimewatch::countHeapCall();
        __libc_free(p);
    }
    void* aligned_alloc(size_t alignment, size_t n)
    {
        realtimewatch::countHeapCall();
        return __libc_memalign(alignment, n);
    }
    void* memalign(size_t alignment, size_t n)
    {
        realtimewatch::countHeapCall();
        return __libc_memalign(alignment, n);
    }
    int posix_memalign(void** p, size_t alignment, size_t n)
    {
        realtimewatch::countHeapCall();
        *p = __libc_memalign(alignment, n);
        return *p ? 0 : 12; // ENOMEM
    }
}

#endif
