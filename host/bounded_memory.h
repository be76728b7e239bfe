// The linear memories of the checked translations (cmake/wasm_module.cmake,
// CHECKED_TWIN): code that checks every access itself needs no reservation,
// so a memory is mapped only as far as the module has grown it. A process
// whose address space is limited below the 8 GiB a guard-page memory reserves
// runs its modules this way (host/module_host.h chooses).
//
// The translated code calls these in place of the packaged runtime's
// wasm_rt_allocate_memory, wasm_rt_grow_memory and wasm_rt_free_memory,
// which a compile definition renames.
#ifndef VELT_BOUNDED_MEMORY_H
#define VELT_BOUNDED_MEMORY_H

#include <cstdint>
#include <string>

#include "wasm-rt.h"

extern "C" {
// Maps `initial_pages` of zeroed memory. When the mapping is refused, records
// why (take_memory_refusal) and traps: the instance being made is unusable.
void velt_bounded_allocate_memory(wasm_rt_memory_t* memory, uint32_t initial_pages,
                                  uint32_t max_pages);
// Grows the memory by `pages` zeroed pages, moving it when it cannot grow in
// place; the page count before, or UINT32_MAX when the maximum would be
// passed or the pages cannot be mapped (the memory is then as it was).
uint32_t velt_bounded_grow_memory(wasm_rt_memory_t* memory, uint32_t pages);
// Unmaps the memory.
void velt_bounded_free_memory(wasm_rt_memory_t* memory);
}

// Why the last refused allocation on this thread was refused, as one phrase
// ("cannot map its 64 MiB of memory: Cannot allocate memory (address-space
// limit 40 MiB)"); "" when none was refused since the last call.
std::string take_memory_refusal();

#endif
