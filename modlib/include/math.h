/* Square roots as the single WebAssembly instructions f64.sqrt / f32.sqrt. */
#ifndef VELT_MODLIB_MATH_H
#define VELT_MODLIB_MATH_H

#ifdef __cplusplus
extern "C" {
#endif

static inline double sqrt(double x) { return __builtin_sqrt(x); }
static inline float sqrtf(float x) { return __builtin_sqrtf(x); }

#ifdef __cplusplus
}
#endif

#endif
