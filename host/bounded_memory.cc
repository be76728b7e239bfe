#include "bounded_memory.h"

#include <sys/mman.h>
#include <sys/resource.h>

#include <cerrno>
#include <cstring>

namespace {

constexpr uint64_t PAGE_SIZE = 65536;
// the memory record keeps its size in 32 bits: 65536 pages would read as 0
constexpr uint64_t MAX_PAGES = 65535;
constexpr uint64_t MIB = uint64_t(1) << 20;

// The last refused allocation on this thread: plain data, since the trap that
// follows it leaves the function without running any destructor.
struct Refusal {
  bool refused;
  int error;
  uint64_t bytes;
};
thread_local Refusal last_refusal = {false, 0, 0};

// `bytes` of new zeroed memory, or MAP_FAILED.
void* map_zeroed(uint64_t bytes) {
  return mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
}

}  // namespace

extern "C" {

void velt_bounded_allocate_memory(wasm_rt_memory_t* memory, uint32_t initial_pages,
                                  uint32_t max_pages) {
  memory->data = nullptr;
  memory->pages = 0;
  memory->size = 0;
  memory->max_pages = max_pages;
  if (initial_pages == 0) return;
  const uint64_t bytes = uint64_t(initial_pages) * PAGE_SIZE;
  void* data = initial_pages > MAX_PAGES ? MAP_FAILED : map_zeroed(bytes);
  if (data == MAP_FAILED) {
    last_refusal = {true, initial_pages > MAX_PAGES ? EINVAL : errno, bytes};
    wasm_rt_trap(WASM_RT_TRAP_OOB);
  }
  memory->data = static_cast<uint8_t*>(data);
  memory->pages = initial_pages;
  memory->size = uint32_t(bytes);
}

uint32_t velt_bounded_grow_memory(wasm_rt_memory_t* memory, uint32_t pages) {
  const uint32_t old_pages = memory->pages;
  const uint64_t new_pages = uint64_t(old_pages) + pages;
  if (new_pages > memory->max_pages || new_pages > MAX_PAGES) return UINT32_MAX;
  if (pages == 0) return old_pages;
  const uint64_t new_size = new_pages * PAGE_SIZE;
  // a private anonymous mapping grows by zeroed pages, wherever it lands
  void* data = memory->data == nullptr
                   ? map_zeroed(new_size)
                   : mremap(memory->data, memory->size, new_size, MREMAP_MAYMOVE);
  if (data == MAP_FAILED) return UINT32_MAX;
  memory->data = static_cast<uint8_t*>(data);
  memory->pages = uint32_t(new_pages);
  memory->size = uint32_t(new_size);
  return old_pages;
}

void velt_bounded_free_memory(wasm_rt_memory_t* memory) {
  if (memory->data != nullptr) munmap(memory->data, memory->size);
  memory->data = nullptr;
  memory->pages = 0;
  memory->size = 0;
}

}  // extern "C"

std::string take_memory_refusal() {
  const Refusal refusal = last_refusal;
  last_refusal = {false, 0, 0};
  if (!refusal.refused) return "";
  std::string text = "cannot map its " + std::to_string(refusal.bytes / MIB) +
                     " MiB of memory: " + std::strerror(refusal.error);
  struct rlimit limit;
  if (getrlimit(RLIMIT_AS, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY)
    text += " (address-space limit " + std::to_string(limit.rlim_cur / MIB) + " MiB)";
  return text;
}
