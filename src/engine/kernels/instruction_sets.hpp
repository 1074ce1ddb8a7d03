// Which instruction-set kernels this build compiles: the vector ones only
// for their own processors, and none in a portable build.
#pragma once

#if !defined(HITTAB_PORTABLE) && (defined(__x86_64__) || defined(__i386__)) && (defined(__GNUC__) || defined(__clang__))
#define HITTAB_BUILD_AVX2 1
#else
#define HITTAB_BUILD_AVX2 0
#endif

#if !defined(HITTAB_PORTABLE) && defined(__aarch64__) && defined(__ARM_NEON)
#define HITTAB_BUILD_NEON 1
#else
#define HITTAB_BUILD_NEON 0
#endif
