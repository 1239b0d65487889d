// Which vector instructions the render's hot loops use: SSE2 everywhere on x86-64, AVX2 where
// the processor has it (checked once at start). Both give the same bits: the wider paths do
// the same IEEE operations, each correctly rounded whatever the vector width, and no fused
// multiply-adds.
#pragma once

// Marks a function whose body may use AVX2 (its intrinsics, and wider code from the compiler):
// call it only where avx2Lanes(). Functions it inlines are compiled for AVX2 inside it too, the
// helpers with intrinsics of their own needing this mark as well.
#if defined(__x86_64__) || defined(__i386__)
#define QM_TARGET_AVX2 __attribute__((target("avx2")))
#else
#define QM_TARGET_AVX2
#endif

namespace qm::detail {

// Whether the AVX2 paths run.
bool avx2Lanes();

// Turns the AVX2 paths off (false) or back on where the processor has AVX2 (true), so that
// tests can hold either path to the other; returns whether they now run. Not while a render
// runs.
bool setAvx2Lanes(bool enabled);

}  // namespace qm::detail
