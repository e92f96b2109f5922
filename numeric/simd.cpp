#include "simd.h"

#if defined(HALVERN_AVX2_KERNELS)
namespace
{
bool askProcessor()
{
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2");
}
} // namespace

const bool processorHasAvx2 = askProcessor();
#endif
