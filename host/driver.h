// The command-line run: banner, module instance, one encoding call, result.
#ifndef VELT_DRIVER_H
#define VELT_DRIVER_H

#include <cstdint>

#include "wasm-rt.h"

// Prints the run's banner, encodes through the module with the given flags,
// prints the result line and tears everything down. Returns the exit status.
// The process confines itself before the module runs (`program` names it in
// what the sandbox reports). A trap in the module prints its reason on
// standard error and aborts; a signal that ends a program ends the run with
// 128 + its number; a system call the sandbox stops ends it with 128 + SIGSYS.
int run_encoder(const char* program, const char* pattern, const char* output, int32_t fps,
                int32_t flags);

// Ends the process after a trap in the module: the trap's message on standard
// error, standard output flushed, then abort().
[[noreturn]] void abort_on_trap(wasm_rt_trap_t trap);

// Parses a number the way the command line does: strtol in base 10, cut to
// 32 bits, text without digits giving 0.
int32_t parse_int_argument(const char* text);

#endif
