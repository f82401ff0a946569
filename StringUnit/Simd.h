// Whether the 16-bit scans may use SSE2: wherever the target has it, unless
// QUILLET_NO_SIMD asks for the portable loops. Defines QUILLET_SSE2 then.
#pragma once

#if !defined(QUILLET_NO_SIMD) && \
    (defined(__SSE2__) || defined(_M_X64) || (defined(_M_IX86_FP) && _M_IX86_FP >= 2))
#include <emmintrin.h>
#define QUILLET_SSE2 1
#endif
