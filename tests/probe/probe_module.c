// A small module that exercises the runtime's checks from inside: loads and
// stores at chosen offsets (probe_far.s adds the largest constant offset),
// nested calls, memory fills and memory growth.
// No library: only what the translated module needs to run on its own.

#define EXPORT(name) __attribute__((export_name(name)))

typedef unsigned char u8;
typedef unsigned int u32;

// keeps each nested call from being turned into a loop or a tail call
static volatile u32 depth_sink;

// Reads the byte at `addr`.
EXPORT("load8") u32 load8(u32 addr) { return *(volatile u8*)addr; }

// Writes `value` to the byte at `addr`.
EXPORT("store8") void store8(u32 addr, u32 value) { *(volatile u8*)addr = (u8)value; }

// Writes the 32-bit `value` at `addr` (four bytes, little-endian).
EXPORT("store32") void store32(u32 addr, u32 value) {
  __builtin_memcpy((void*)addr, &value, 4);
}

// Sets `len` bytes from `addr` to `value` with one memory fill.
EXPORT("fill") void fill(u32 addr, u32 value, u32 len) {
  __builtin_memset((void*)addr, (int)value, len);
}

// Calls itself until `levels` reaches 0: levels + 1 nested calls in all,
// this export included. Returns `levels`.
EXPORT("deep") u32 deep(u32 levels) {
  if (levels == 0) return 0;
  u32 below = deep(levels - 1);
  depth_sink = below;
  return below + 1;
}

// Grows the memory by `pages`; the previous page count, or 0xFFFFFFFF.
EXPORT("grow") u32 grow(u32 pages) { return (u32)__builtin_wasm_memory_grow(0, pages); }

// The memory's current page count.
EXPORT("size") u32 size(void) { return (u32)__builtin_wasm_memory_size(0); }
