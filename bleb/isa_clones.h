// Functions marked BLEB_ISA_CLONES get an AVX2 clone beside the baseline,
// chosen once at load time. The clones run the same correctly rounded
// operations (the kernel is built without contraction), so they give the
// same bits. ThreadSanitizer cannot run load-time resolvers, so its builds
// keep the baseline only.
#pragma once

#if defined(BLEB_NO_ISA_CLONES)
#define BLEB_ISA_CLONES
#define BLEB_WIDE_ISA_CLONES
#else
#define BLEB_ISA_CLONES __attribute__((target_clones("avx2", "default")))
// Also an AVX-512 clone, for code written in 16-lane vectors (the map pass,
// which the divider and square root bound).
#define BLEB_WIDE_ISA_CLONES __attribute__((target_clones("arch=x86-64-v4", "avx2", "default")))
#endif
