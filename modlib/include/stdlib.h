/* Heap allocation of the module library. */
#ifndef VELT_MODLIB_STDLIB_H
#define VELT_MODLIB_STDLIB_H

#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Allocates `size` bytes aligned to 16; NULL with errno ENOMEM on failure.
   malloc(0) returns a unique pointer. */
void* malloc(size_t size);
/* Allocates nmemb * size zeroed bytes; NULL when the product overflows or
   memory runs out. */
void* calloc(size_t nmemb, size_t size);
/* Resizes the block at `p` (in place when possible), keeping its contents up
   to the smaller size. On failure returns NULL and leaves `p` untouched. */
void* realloc(void* p, size_t size);
/* Returns a block to the heap; free(NULL) does nothing. */
void free(void* p);

static inline int abs(int x) { return x < 0 ? -x : x; }

#ifdef __cplusplus
}
#endif

#endif
