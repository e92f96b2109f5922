// The few system services an editor built on the toolkit needs besides its frame.
#pragma once

#include <cstdint>

namespace VSTGUI
{

// Milliseconds since system start (wrapping at 2^32).
uint32_t getTickCount();
void sleepMilliseconds(uint32_t ms);
// Removes one pending paint request of any window of this thread and dispatches it.
bool dispatchPendingPaint();

} // namespace VSTGUI
