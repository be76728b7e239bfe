// The module host over a long life: many encodes in one process leave no
// descriptor or memory behind, and two instances alive at once, called in
// turn, each encode their own file.
#include <dirent.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "encoding_call.h"
#include "velt_instance_fixture.h"
#include "veltchecked.h"

namespace {

VELT_LIBRARY_TRANSLATION(CheckedEncoderModule, veltchecked, false);

using Bytes = std::vector<uint8_t>;

const std::string kPattern = std::string(VELT_SOURCE_DIR) + "/examples/wheel/frame_X.png";

Bytes read_bytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

int open_descriptors() {
  int count = 0;
  if (DIR* dir = opendir("/proc/self/fd")) {
    while (readdir(dir) != nullptr) ++count;
    closedir(dir);
  }
  return count;
}

// A size in KiB from /proc/self/status: "VmRSS" resident, "VmSize" mapped.
long status_kib(const std::string& field) {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line))
    if (line.rfind(field + ":", 0) == 0) return std::stol(line.substr(field.size() + 1));
  return -1;
}

#ifdef __SANITIZE_ADDRESS__
// freed blocks wait in the sanitizer's quarantine, so the resident set grows
// without a leak; the sanitizer's own leak check at exit covers the heap
constexpr bool kResidentSetIsMeaningful = false;
#else
constexpr bool kResidentSetIsMeaningful = true;
#endif

std::string temp_dir() {
  char name[] = "/tmp/velt_host_XXXXXX";
  return mkdtemp(name);
}

Bytes encode(const std::string& output) {
  EncodingConsole silent;
  FileServiceHooks hooks;
  hooks.console = [](int, const uint8_t*, size_t) {};
  EncodingOutcome outcome = run_encoding_call({kPattern.c_str(), output.c_str(), 20, 0}, silent, hooks);
  EXPECT_EQ(outcome.trap, WASM_RT_TRAP_NONE);
  EXPECT_EQ(outcome.result, 0u);
  return read_bytes(output);
}

TEST(ModuleHost, HundredsOfEncodesInOneProcessLeaveNothingBehind) {
  const std::string dir = temp_dir();
  const std::string output = dir + "/wheel.velt";
  const Bytes first = encode(output);
  for (int i = 0; i < 9; ++i) encode(output);  // the heap settles
  const int descriptors = open_descriptors();
  const long resident = status_kib("VmRSS");
  const long mapped = status_kib("VmSize");
  for (int i = 0; i < 100; ++i) ASSERT_EQ(encode(output), first) << "encode " << i;
  EXPECT_EQ(open_descriptors(), descriptors);
  // a leaked instance would keep its memory's reservation (GiBs) mapped, and
  // the pages it touched resident
  EXPECT_LT(status_kib("VmSize") - mapped, 1 << 20) << "KiB more mapped after 100 encodes";
  if (kResidentSetIsMeaningful) {
    EXPECT_LT(status_kib("VmRSS") - resident, 4096) << "KiB more resident after 100 encodes";
  }
  std::remove(output.c_str());
  rmdir(dir.c_str());
}

// A process that runs a module can no longer gain privileges, from the
// runtime's set-up on, whatever it starts.
TEST(ModuleHost, TheProcessHasNoNewPrivilegesOnceAModuleCanRun) {
  ModuleHost<FixtureEncoderModule> module;
  std::ifstream status("/proc/self/status");
  std::string line, no_new_privs;
  while (std::getline(status, line))
    if (line.rfind("NoNewPrivs:", 0) == 0) no_new_privs = line;
  EXPECT_EQ(no_new_privs, "NoNewPrivs:\t1");
}

TEST(ModuleHost, TwoInstancesCalledInTurnEachWriteTheirOwnFile) {
  const std::string dir = temp_dir();
  const Bytes expected = encode(dir + "/reference.velt");
  struct Run {
    OutputGrant output;
    std::unique_ptr<ModuleHost<FixtureEncoderModule>> module;
    uint32_t pattern_at = 0, output_at = 0, result = 99;
  };
  Run runs[2];
  for (int i = 0; i < 2; ++i) {
    Run& r = runs[i];
    r.output.path = dir + "/out" + std::to_string(i) + ".velt";
    FileGrants grants = pattern_grants(kPattern);
    grants.output = &r.output;
    FileServiceHooks hooks;
    hooks.console = [](int, const uint8_t*, size_t) {};
    r.module = std::make_unique<ModuleHost<FixtureEncoderModule>>(std::move(grants), hooks);
    ASSERT_EQ(r.module->start_trap(), WASM_RT_TRAP_NONE);
  }
  // each step is taken by both instances before the next one
  wasm_rt_trap_t trap = WASM_RT_TRAP_NONE;
  for (Run& r : runs) r.pattern_at = r.module->copy_in(kPattern.c_str(), kPattern.size() + 1, &trap);
  for (Run& r : runs)
    r.output_at = r.module->copy_in(r.output.path.c_str(), r.output.path.size() + 1, &trap);
  for (Run& r : runs) {
    ASSERT_NE(r.pattern_at, 0u);
    ASSERT_NE(r.output_at, 0u);
    ASSERT_EQ(r.module->call([&] {
      r.result = Z_veltZ_m(r.module->instance(), r.pattern_at, r.output_at, 0, 20);
    }), WASM_RT_TRAP_NONE);
  }
  for (Run& r : runs) {
    EXPECT_EQ(r.result, 0u);
    r.module.reset();
    std::string error;
    ASSERT_TRUE(r.output.file.commit(&error)) << error;
    EXPECT_EQ(read_bytes(r.output.path), expected) << r.output.path;
    std::remove(r.output.path.c_str());
  }
  std::remove((dir + "/reference.velt").c_str());
  rmdir(dir.c_str());
}

// The heap-growth service grows a memory the way its translation made it (a
// checked memory is moved when it cannot grow in place): a block larger than
// the initial memory is allocated, inside the grown memory, and usable.
template <typename M>
void allocate_past_the_initial_memory() {
  constexpr uint32_t BLOCK = 100 << 20;
  ModuleHost<M> module;
  ASSERT_EQ(module.start_trap(), WASM_RT_TRAP_NONE);
  const uint32_t initial = module.memory()->size;
  uint32_t at = 0;
  ASSERT_EQ(module.call([&] { at = M::allocate(module.instance(), BLOCK); }), WASM_RT_TRAP_NONE);
  ASSERT_NE(at, 0u) << "the module found no room";
  EXPECT_GT(module.memory()->size, initial);
  ASSERT_TRUE(module.in_memory(at, BLOCK));
  module.memory()->data[at + BLOCK - 1] = 7;
  EXPECT_EQ(module.release(at), WASM_RT_TRAP_NONE);
}

TEST(ModuleHost, TheHeapGrowsPastTheInitialMemoryInEitherTranslation) {
  {
    SCOPED_TRACE("guard pages");
    allocate_past_the_initial_memory<FixtureEncoderModule>();
  }
  {
    SCOPED_TRACE("explicit checks");
    allocate_past_the_initial_memory<CheckedEncoderModule>();
  }
}

}  // namespace
