# Run as cmake -DFILE=<translation.c> -P drop_load_barrier.cmake after wasm2c.
#
# wasm2c ends every load with an empty asm statement that takes the loaded
# value, so that a load whose value is never used still happens and traps
# when it is out of bounds. To the compiler that statement is opaque: it
# reloads the memory's base after each one and schedules nothing across it,
# which costs the encoder's scoring loops about a twentieth of their time.
# Without it a load whose value is unused may be left out, and then cannot
# trap; every load that does happen is still either in bounds or stopped by
# the guard pages or the explicit check, so nothing outside the module's
# memory is ever read. The statement is defined once, as the macro wasm_asm;
# the translation is refused if that definition is not there as expected.
file(READ ${FILE} text)
set(barrier "#define wasm_asm __asm__\n")
string(FIND "${text}" "${barrier}" at)
if(at EQUAL -1)
  message(FATAL_ERROR "${FILE}: no '#define wasm_asm __asm__' line: has wasm2c changed?")
endif()
string(REPLACE "${barrier}" "#define wasm_asm(X)\n" text "${text}")
file(WRITE ${FILE} "${text}")
