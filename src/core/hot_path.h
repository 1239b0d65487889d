// QM_HOT_INLINE marks the per-point functions of the render loop (steps, projection, splats).
// The compiler's own heuristics stop inlining them once a block loop grows large, and a call
// per point then costs more than the work it does.
#pragma once

#define QM_HOT_INLINE [[gnu::always_inline]] inline
// The same for a lambda's body: [&](...) QM_HOT_LAMBDA { ... }.
#define QM_HOT_LAMBDA __attribute__((always_inline))
