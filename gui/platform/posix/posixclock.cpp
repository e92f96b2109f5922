// The platform clock on POSIX systems, for the window layers that run on the real clock.
#include "platform/platform.h"

#include <cerrno>
#include <ctime>

namespace VSTGUI
{
namespace platform
{

uint32_t tickCount()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<uint32_t>(static_cast<uint64_t>(now.tv_sec) * 1000u +
                                 static_cast<uint64_t>(now.tv_nsec) / 1000000u);
}

void sleepMilliseconds(uint32_t ms)
{
    timespec wait{static_cast<time_t>(ms / 1000), static_cast<long>(ms % 1000) * 1000000L};
    while (nanosleep(&wait, &wait) == -1 && errno == EINTR)
    {
    }
}

} // namespace platform
} // namespace VSTGUI
