// Start-up of the module heap (malloc and friends are declared in stdlib.h).
#ifndef VELT_MODLIB_HEAP_H
#define VELT_MODLIB_HEAP_H

// Places the heap break at the linker's __heap_base, with no blocks yet.
// Runs once; later calls leave the heap alone.
void heap_init();

#endif
