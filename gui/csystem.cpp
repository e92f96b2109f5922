#include "csystem.h"

#include "platform/platform.h"

namespace VSTGUI
{

uint32_t getTickCount()
{
    return platform::tickCount();
}

void sleepMilliseconds(uint32_t ms)
{
    platform::sleepMilliseconds(ms);
}

bool dispatchPendingPaint()
{
    return platform::dispatchPendingPaint();
}

} // namespace VSTGUI
