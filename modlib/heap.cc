// The module heap: blocks carved from a break pointer that starts at
// __heap_base and grows through the host's heap-growth service. Freed blocks
// go on an address-ordered free list and merge with free neighbours, so a run
// that frees what it allocates reuses the same memory frame after frame.
#include <errno.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include "heap.h"
#include "host_services.h"

extern "C" unsigned char __heap_base;  // first byte after the stack

namespace {

const uint32_t ALIGNMENT = 16;
const uint32_t HEADER_SIZE = 16;  // keeps every payload 16-byte aligned
const uint32_t MIN_BLOCK_SIZE = HEADER_SIZE + 16;
const uint32_t WASM_PAGE_SIZE = 65536;

// Header states; anything else at a header means a bad pointer was freed.
const uint32_t BLOCK_USED = 0x55534544;
const uint32_t BLOCK_FREE = 0x46524545;

struct Block {
  uint32_t size;   // whole block, header included; a multiple of 16
  uint32_t state;  // BLOCK_USED or BLOCK_FREE
  Block* next;     // free blocks only: the next free block by address
  uint32_t unused;
};
static_assert(sizeof(Block) == HEADER_SIZE, "header size");

// [heap_start, heap_top) is covered by blocks. The block that ends at
// heap_top is always in use: a free block there is given back to the break.
uintptr_t heap_start;
uintptr_t heap_top;
Block* free_list;

unsigned char* block_end(Block* b) { return reinterpret_cast<unsigned char*>(b) + b->size; }
void* payload(Block* b) { return reinterpret_cast<unsigned char*>(b) + HEADER_SIZE; }

// Block size for a request of n bytes, or 0 when it cannot be represented.
uint32_t block_size_for(size_t n) {
  if (n > UINT32_MAX - HEADER_SIZE - (ALIGNMENT - 1)) return 0;
  uint32_t size = (static_cast<uint32_t>(n) + HEADER_SIZE + ALIGNMENT - 1) & ~(ALIGNMENT - 1);
  return size < MIN_BLOCK_SIZE ? MIN_BLOCK_SIZE : size;
}

uint64_t memory_bytes() {
  return static_cast<uint64_t>(__builtin_wasm_memory_size(0)) * WASM_PAGE_SIZE;
}

// Moves the break up by `bytes`, asking the host for memory when the linear
// memory is too short. Sets errno to ENOMEM and returns false on failure.
bool raise_break(uint32_t bytes) {
  uint64_t new_top = static_cast<uint64_t>(heap_top) + bytes;
  if (new_top > memory_bytes()) {
    // a yes from the host is checked against the memory it actually has
    if (new_top > UINT32_MAX || !host_grow_heap(static_cast<uint32_t>(new_top)) ||
        new_top > memory_bytes()) {
      errno = ENOMEM;
      return false;
    }
  }
  heap_top = static_cast<uintptr_t>(new_top);
  return true;
}

// The header of an allocated payload; traps on a pointer that malloc did not
// return or that was already freed.
Block* used_block_of(void* p) {
  uintptr_t address = reinterpret_cast<uintptr_t>(p);
  if (address % ALIGNMENT != 0 || address < heap_start + HEADER_SIZE || address >= heap_top)
    __builtin_trap();
  Block* b = reinterpret_cast<Block*>(address - HEADER_SIZE);
  if (b->state != BLOCK_USED) __builtin_trap();
  return b;
}

// Puts a block on the free list, merging it with free neighbours, and gives
// it back to the break when it ends at the top.
void release(Block* b) {
  Block** link = &free_list;  // the link that will point at b
  Block** prev_link = nullptr;
  while (*link && *link < b) {
    prev_link = link;
    link = &(*link)->next;
  }
  Block* next = *link;
  if (next && block_end(b) == reinterpret_cast<unsigned char*>(next)) {
    b->size += next->size;
    next->state = 0;
    next = next->next;
  }
  if (prev_link && block_end(*prev_link) == reinterpret_cast<unsigned char*>(b)) {
    Block* prev = *prev_link;
    prev->size += b->size;
    b->state = 0;
    b = prev;
    link = prev_link;
  }
  if (reinterpret_cast<uintptr_t>(block_end(b)) == heap_top) {
    // nothing lies above a block at the top, so next is null here
    heap_top = reinterpret_cast<uintptr_t>(b);
    b->state = 0;
    *link = next;
    return;
  }
  b->state = BLOCK_FREE;
  b->next = next;
  *link = b;
}

// Cuts a used block down to `size` bytes and frees the rest, if the rest is
// big enough to be a block of its own.
void trim_block(Block* b, uint32_t size) {
  if (b->size - size < MIN_BLOCK_SIZE) return;
  Block* rest = reinterpret_cast<Block*>(reinterpret_cast<unsigned char*>(b) + size);
  rest->size = b->size - size;
  rest->state = BLOCK_USED;
  b->size = size;
  release(rest);
}

// Grows a used block in place to `size` bytes, from the free block that
// follows it or from the break. Returns false when neither has room.
bool grow_in_place(Block* b, uint32_t size) {
  unsigned char* end = block_end(b);
  if (reinterpret_cast<uintptr_t>(end) == heap_top) {
    if (!raise_break(size - b->size)) return false;
    b->size = size;
    return true;
  }
  Block** link = &free_list;
  while (*link && reinterpret_cast<unsigned char*>(*link) < end) link = &(*link)->next;
  Block* next = *link;
  if (reinterpret_cast<unsigned char*>(next) != end || b->size + next->size < size) return false;
  *link = next->next;
  b->size += next->size;
  next->state = 0;
  trim_block(b, size);
  return true;
}

}  // namespace

void heap_init() {
  if (heap_start != 0) return;
  heap_start = (reinterpret_cast<uintptr_t>(&__heap_base) + ALIGNMENT - 1) & ~uintptr_t(ALIGNMENT - 1);
  heap_top = heap_start;
  free_list = nullptr;
}

extern "C" {

void* malloc(size_t n) {
  heap_init();
  uint32_t size = block_size_for(n);
  if (size == 0) {
    errno = ENOMEM;
    return nullptr;
  }
  for (Block** link = &free_list; *link; link = &(*link)->next) {
    Block* b = *link;
    if (b->size < size) continue;
    if (b->size - size >= MIN_BLOCK_SIZE) {
      // the rest stays free in b's place on the list
      Block* rest = reinterpret_cast<Block*>(reinterpret_cast<unsigned char*>(b) + size);
      rest->size = b->size - size;
      rest->state = BLOCK_FREE;
      rest->next = b->next;
      *link = rest;
      b->size = size;
    } else {
      *link = b->next;
    }
    b->state = BLOCK_USED;
    return payload(b);
  }
  Block* b = reinterpret_cast<Block*>(heap_top);
  if (!raise_break(size)) return nullptr;
  b->size = size;
  b->state = BLOCK_USED;
  return payload(b);
}

void free(void* p) {
  if (p == nullptr) return;
  release(used_block_of(p));
}

void* calloc(size_t nmemb, size_t size) {
  if (size != 0 && nmemb > SIZE_MAX / size) {
    errno = ENOMEM;
    return nullptr;
  }
  void* p = malloc(nmemb * size);
  if (p) memset(p, 0, nmemb * size);
  return p;
}

void* realloc(void* p, size_t n) {
  if (p == nullptr) return malloc(n);
  Block* b = used_block_of(p);
  uint32_t size = block_size_for(n);
  if (size == 0) {
    errno = ENOMEM;
    return nullptr;
  }
  if (size <= b->size) {
    trim_block(b, size);
    return p;
  }
  if (grow_in_place(b, size)) return p;
  void* moved = malloc(n);
  if (moved == nullptr) return nullptr;
  memcpy(moved, p, b->size - HEADER_SIZE);
  release(b);
  return moved;
}

}  // extern "C"
