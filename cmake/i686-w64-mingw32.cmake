# 32-bit Windows with Debian's mingw-w64 cross compilers. SSE2 arithmetic instead of the x87
# stack, so that results match the 64-bit and Linux builds to rounding. 32-bit hosts may call in
# with a stack aligned to 4 bytes only: functions that keep vectors on it realign it themselves.
set(HALVERN_MINGW_TRIPLE i686-w64-mingw32)
set(CMAKE_SYSTEM_PROCESSOR i686)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64-common.cmake)
string(APPEND CMAKE_C_FLAGS_INIT " -msse2 -mfpmath=sse -mincoming-stack-boundary=2")
string(APPEND CMAKE_CXX_FLAGS_INIT " -msse2 -mfpmath=sse -mincoming-stack-boundary=2")
