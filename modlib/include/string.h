/* Memory and string functions of the module library. */
#ifndef VELT_MODLIB_STRING_H
#define VELT_MODLIB_STRING_H

#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

void* memcpy(void* dest, const void* src, size_t n);
/* Copies correctly when the two ranges overlap. */
void* memmove(void* dest, const void* src, size_t n);
void* memset(void* dest, int c, size_t n);
int memcmp(const void* a, const void* b, size_t n);
size_t strlen(const char* s);
int strcmp(const char* a, const char* b);
/* The text of an error number, as the host system words it. */
char* strerror(int number);

#ifdef __cplusplus
}
#endif

/* Calls go straight to the bulk-memory instructions, or to plain loads and
   stores when the size is a small constant, rather than through a call. */
#define memcpy(dest, src, n) __builtin_memcpy(dest, src, n)
#define memmove(dest, src, n) __builtin_memmove(dest, src, n)
#define memset(dest, c, n) __builtin_memset(dest, c, n)

#endif
