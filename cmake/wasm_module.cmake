# Builds a WebAssembly module from C and C++ sources with clang and wasm-ld,
# translates it to C with wasm2c, and wraps the translation in a static
# library named <name>_module whose header is <name>.h. MODULE_NAME gives the
# translated module another name than the target (its header, its symbols
# Z_<module name>...), for a second module that a host built for the first
# one can run.
#
# The translated C is compiled for bounds checks by guard pages: the packaged
# runtime reserves 8 GiB for each memory, of which only the current pages are
# accessible, so a load or store needs no check of its own and an access
# outside the memory faults; the host's fault handler (host/module_instance.h)
# turns that fault into a trap. memory.fill and memory.copy keep their explicit
# range checks. The call depth is still counted (500 nested calls), not left to
# a fault on the native stack.
#
# CHECKED_TWIN also translates the same .wasm a second time, as the module
# <module name>checked in the library <name>_checked_module, compiled with an
# explicit check before every access: for processes that cannot reserve 8 GiB
# of address space (host/module_host.h chooses). Its memory is the host's
# own (host/bounded_memory.h): mapped only as far as the module uses it.

find_program(WASM_CLANG NAMES clang clang-14 REQUIRED)
find_program(WASM2C wasm2c REQUIRED)

set(WASM_COMMON_FLAGS --target=wasm32 -O2 -ffreestanding -nostdlibinc -mbulk-memory
    -Wall -Wextra -Wno-unused-parameter)
set(WASM_LINK_FLAGS -nostdlib -Wl,--no-entry
    -Wl,--initial-memory=67108864 -Wl,--max-memory=2147483648
    -Wl,--global-base=1024 -Wl,-z,stack-size=65536)
# No -frounding-math or -fsignaling-nans: WebAssembly has one rounding mode,
# which no instruction changes, and the encoder never makes a NaN, so neither
# can change a result; the differential and byte-identical end-to-end tests
# check it.
# No -fmath-errno: the translation's sqrt and sqrtf would otherwise test every
# argument for a negative one and call the C library to set errno, which the
# module never sees; without it they are the one instruction.
set(WASM_TRANSLATED_FLAGS -DWASM_RT_USE_STACK_DEPTH_COUNT=1 -fno-optimize-sibling-calls
    -fno-math-errno)

# The translated C is compiled with clang (the compiler that builds the
# modules) where the project's own C compiler is another one, except in the
# sanitizer and fuzzer builds, whose objects must all come from one compiler:
# on the encoder's block search, clang's code for the translation runs about
# a sixth faster than gcc 12's, records identical.
if(CMAKE_C_COMPILER_ID STREQUAL "Clang" OR VELT_SANITIZE OR VELT_FUZZ)
  set(WASM_TRANSLATED_BY_CLANG OFF)
else()
  set(WASM_TRANSLATED_BY_CLANG ON)
endif()

# Translates `wasm` as the module `module` into the static library `target`,
# compiled with bounds checks by guard pages, or explicit ones when CHECKED.
function(translate_wasm_module target wasm module)
  cmake_parse_arguments(T "CHECKED" "" "" ${ARGN})
  get_filename_component(stem ${wasm} NAME_WE)
  set(gen_dir ${CMAKE_CURRENT_BINARY_DIR}/wasm2c/${module})
  file(MAKE_DIRECTORY ${gen_dir})
  add_custom_command(
    OUTPUT ${gen_dir}/${module}.c ${gen_dir}/${module}.h
    COMMAND ${WASM2C} ${wasm} -n ${module} -o ${gen_dir}/${module}.c
    COMMAND ${CMAKE_COMMAND} -DFILE=${gen_dir}/${module}.c
      -P ${CMAKE_SOURCE_DIR}/cmake/drop_load_barrier.cmake
    DEPENDS ${wasm} ${CMAKE_SOURCE_DIR}/cmake/drop_load_barrier.cmake
    COMMENT "wasm2c ${stem}.wasm as ${module}"
    VERBATIM)

  if(T_CHECKED)
    # an explicit check before each access; the memory is mapped by the host's
    # functions, never by the packaged runtime's, which reserve 8 GiB
    set(bounds WASM_RT_MEMCHECK_SIGNAL_HANDLER=0
      wasm_rt_allocate_memory=velt_bounded_allocate_memory
      wasm_rt_grow_memory=velt_bounded_grow_memory
      wasm_rt_free_memory=velt_bounded_free_memory)
  else()
    set(bounds WASM_RT_MEMCHECK_SIGNAL_HANDLER=1)
  endif()
  # the translated code is machine-made and carries its own checks: a debug
  # build still optimises it, so that whole encodes under the sanitizers stay
  # quick enough to run by the hundred
  if(WASM_TRANSLATED_BY_CLANG)
    set(obj ${gen_dir}/${module}.o)
    list(TRANSFORM bounds PREPEND -D OUTPUT_VARIABLE bound_flags)
    add_custom_command(
      OUTPUT ${obj}
      COMMAND ${WASM_CLANG} $<IF:$<CONFIG:Debug>,-O1,-O3> $<$<NOT:$<CONFIG:Debug>>:-DNDEBUG> -fPIE
        -ffp-contract=off
        ${WASM_TRANSLATED_FLAGS} ${bound_flags} -w -I${gen_dir} -MD -MF ${obj}.d
        -c ${gen_dir}/${module}.c -o ${obj}
      DEPENDS ${gen_dir}/${module}.c ${gen_dir}/${module}.h
      DEPFILE ${obj}.d
      COMMENT "clang ${module}.c"
      VERBATIM)
    add_library(${target} STATIC ${obj})
    set_target_properties(${target} PROPERTIES LINKER_LANGUAGE C)
  else()
    add_library(${target} STATIC ${gen_dir}/${module}.c)
    target_compile_options(${target} PRIVATE ${WASM_TRANSLATED_FLAGS} -w $<$<CONFIG:Debug>:-O1>)
    target_compile_definitions(${target} PRIVATE ${bounds})
  endif()
  target_include_directories(${target} PUBLIC ${gen_dir})
  # what the host sees of the runtime, whichever way a translation checks its
  # bounds: wasm-rt.h's structures do not depend on it
  target_compile_definitions(${target} INTERFACE
    WASM_RT_MEMCHECK_SIGNAL_HANDLER=1 WASM_RT_USE_STACK_DEPTH_COUNT=1)
  target_link_libraries(${target} PUBLIC wasm-rt-impl)
  if(T_CHECKED)
    target_link_libraries(${target} PUBLIC velt_bounded_memory)
  endif()
  set_target_properties(${target} PROPERTIES WASM_FILE ${wasm})
endfunction()

function(add_wasm_module name)
  cmake_parse_arguments(W "CHECKED_TWIN" "MODULE_NAME" "SOURCES;INCLUDES;DEFINES" ${ARGN})
  set(module ${name})
  if(W_MODULE_NAME)
    set(module ${W_MODULE_NAME})
  endif()
  set(objects)
  file(MAKE_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR}/wasm/${name})
  set(flags ${WASM_COMMON_FLAGS})
  foreach(dir ${W_INCLUDES})
    list(APPEND flags -I${dir})
  endforeach()
  foreach(def ${W_DEFINES})
    list(APPEND flags -D${def})
  endforeach()
  foreach(src ${W_SOURCES})
    get_filename_component(abs ${src} ABSOLUTE)
    file(RELATIVE_PATH rel ${CMAKE_SOURCE_DIR} ${abs})
    string(REGEX REPLACE "[/.]" "_" stem ${rel})
    set(obj ${CMAKE_CURRENT_BINARY_DIR}/wasm/${name}/${stem}.o)
    if(abs MATCHES "\\.s$")
      add_custom_command(
        OUTPUT ${obj}
        COMMAND ${WASM_CLANG} --target=wasm32 -c ${abs} -o ${obj}
        DEPENDS ${abs}
        COMMENT "wasm32 ${rel}"
        VERBATIM)
    else()
      if(abs MATCHES "\\.cc$")
        set(lang_flags -std=c++17 -fno-exceptions -fno-rtti)
      else()
        set(lang_flags -std=c11)
      endif()
      add_custom_command(
        OUTPUT ${obj}
        COMMAND ${WASM_CLANG} ${flags} ${lang_flags} -MD -MF ${obj}.d -c ${abs} -o ${obj}
        DEPENDS ${abs}
        DEPFILE ${obj}.d
        COMMENT "wasm32 ${rel}"
        VERBATIM)
    endif()
    list(APPEND objects ${obj})
  endforeach()

  set(wasm ${CMAKE_CURRENT_BINARY_DIR}/${name}.wasm)
  add_custom_command(
    OUTPUT ${wasm}
    COMMAND ${WASM_CLANG} --target=wasm32 ${WASM_LINK_FLAGS} ${objects} -o ${wasm}
    DEPENDS ${objects}
    COMMENT "wasm-ld ${name}.wasm"
    VERBATIM)

  translate_wasm_module(${name}_module ${wasm} ${module})
  if(W_CHECKED_TWIN)
    translate_wasm_module(${name}_checked_module ${wasm} ${module}checked CHECKED)
  endif()
endfunction()
