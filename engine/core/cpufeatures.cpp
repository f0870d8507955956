#include "engine/core/cpufeatures.h"

#if defined(__x86_64__)

bool avx2Supported()
{
    static const bool supported = [] {
        __builtin_cpu_init();
        return __builtin_cpu_supports("avx2") != 0;
    }();
    return supported;
}

bool sse41Supported()
{
    static const bool supported = [] {
        __builtin_cpu_init();
        return __builtin_cpu_supports("sse4.1") != 0;
    }();
    return supported;
}

#endif
