#pragma once

// The one place the engine asks the processor what it can run: every SIMD kernel picks its entry
// point from these, once per process.
#if defined(__x86_64__)
bool avx2Supported();
bool sse41Supported();
#endif
