#pragma once

// Marks a function whose loops the compiler should also build for processors with 256-bit
// vectors, the copy picked at load time. Multiversioning needs the GNU toolchain on an ELF
// platform; elsewhere the baseline build runs. No fused multiply-add is enabled: every product
// and sum is rounded as written, so both copies compute the same values.
#if defined(__GNUC__) && defined(__x86_64__) && defined(__ELF__)
#define WIDE_VECTOR_CLONES __attribute__((target_clones("avx2", "default")))
#else
#define WIDE_VECTOR_CLONES
#endif

// For helpers (functions and lambdas) of such a function: always inlined into it, so they are
// built for each copy's processor. A helper the compiler left out of line would be built for the
// baseline alone.
#if defined(__GNUC__)
#define WIDE_VECTOR_INLINE __attribute__((always_inline))
#else
#define WIDE_VECTOR_INLINE
#endif
