// Memory and string functions. The copies and fills are the bulk-memory
// instructions; the builtins below lower to them and never back into calls
// of these functions.
#include <string.h>

// the real functions, for calls through a pointer and for code that bypasses
// the header's macros
#undef memcpy
#undef memmove
#undef memset

extern "C" {

void* memcpy(void* dest, const void* src, size_t n) {
  __builtin_memcpy(dest, src, n);
  return dest;
}

void* memmove(void* dest, const void* src, size_t n) {
  // memory.copy is defined for overlapping ranges
  __builtin_memmove(dest, src, n);
  return dest;
}

void* memset(void* dest, int c, size_t n) {
  __builtin_memset(dest, c, n);
  return dest;
}

int memcmp(const void* a, const void* b, size_t n) {
  const unsigned char* p = static_cast<const unsigned char*>(a);
  const unsigned char* q = static_cast<const unsigned char*>(b);
  for (size_t i = 0; i < n; i++)
    if (p[i] != q[i]) return p[i] - q[i];
  return 0;
}

size_t strlen(const char* s) {
  size_t n = 0;
  while (s[n]) n++;
  return n;
}

int strcmp(const char* a, const char* b) {
  const unsigned char* p = reinterpret_cast<const unsigned char*>(a);
  const unsigned char* q = reinterpret_cast<const unsigned char*>(b);
  while (*p && *p == *q) {
    p++;
    q++;
  }
  return *p - *q;
}

}  // extern "C"
