// The checks every translated module carries, seen from a small probe module:
// memory bounds, the call-depth limit, memory growth, and recovery from a trap.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <vector>

#include "module_host.h"
#include "probe.h"

namespace {

VELT_PLAIN_MODULE(ProbeModule, probe);

constexpr uint32_t INITIAL_PAGES = 1024;
constexpr uint32_t MAX_PAGES = 32768;
constexpr uint32_t DEPTH_LIMIT = 500;

class RuntimeChecksTest : public ::testing::Test {
 protected:
  void SetUp() override {
    module_ = std::make_unique<ModuleHost<ProbeModule>>();
    probe_ = module_->instance();
    memory_ = module_->memory();
  }
  void TearDown() override { module_.reset(); }

  uint32_t end() const { return memory_->size; }
  std::vector<uint8_t> tail() const {
    return std::vector<uint8_t>(memory_->data + end() - 8, memory_->data + end());
  }

  std::unique_ptr<ModuleHost<ProbeModule>> module_;
  Z_probe_instance_t* probe_ = nullptr;
  wasm_rt_memory_t* memory_ = nullptr;
};

TEST_F(RuntimeChecksTest, AccessesMustEndInsideTheMemory) {
  struct Case {
    const char* why;
    void (*call)(Z_probe_instance_t*, uint32_t);
    uint32_t back;  // the access starts this many bytes before the end
    wasm_rt_trap_t trap;
  };
  auto store8 = [](Z_probe_instance_t* p, uint32_t at) { Z_probeZ_store8(p, at, 0xAB); };
  auto store32 = [](Z_probe_instance_t* p, uint32_t at) { Z_probeZ_store32(p, at, 0xABABABAB); };
  auto load8 = [](Z_probe_instance_t* p, uint32_t at) { Z_probeZ_load8(p, at); };
  auto fill4 = [](Z_probe_instance_t* p, uint32_t at) { Z_probeZ_fill(p, at, 0xAB, 4); };
  const Case cases[] = {
      {"byte store at the last byte", store8, 1, WASM_RT_TRAP_NONE},
      {"byte store just past the end", store8, 0, WASM_RT_TRAP_OOB},
      {"word store ending at the last byte", store32, 4, WASM_RT_TRAP_NONE},
      {"word store one byte further", store32, 3, WASM_RT_TRAP_OOB},
      {"byte load at the last byte", load8, 1, WASM_RT_TRAP_NONE},
      {"byte load past the end", load8, 0, WASM_RT_TRAP_OOB},
      {"fill ending at the last byte", fill4, 4, WASM_RT_TRAP_NONE},
      {"fill crossing the end", fill4, 3, WASM_RT_TRAP_OOB},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.why);
    memset(memory_->data + end() - 8, 0, 8);
    EXPECT_EQ(run_guarded(memory_, [&] { c.call(probe_, end() - c.back); }), c.trap);
    // a trapping access writes nothing, not even the part inside
    if (c.trap != WASM_RT_TRAP_NONE) {
      EXPECT_EQ(tail(), std::vector<uint8_t>(8, 0));
    }
  }
  EXPECT_EQ(run_guarded(memory_, [&] { Z_probeZ_store32(probe_, 0xFFFFFFFE, 1); }),
            WASM_RT_TRAP_OOB)
      << "offset + width wraps in 32 bits";
  EXPECT_EQ(run_guarded(memory_, [&] { Z_probeZ_fill(probe_, 16, 0, 0xFFFFFFF8); }),
            WASM_RT_TRAP_OOB)
      << "offset + length wraps in 32 bits";
}

TEST_F(RuntimeChecksTest, AccessesFarBeyondTheMemoryTrapAlike) {
  struct Case {
    const char* why;
    void (*call)(Z_probe_instance_t*);
  };
  const Case cases[] = {
      {"byte load just below 4 GiB",
       [](Z_probe_instance_t* p) { Z_probeZ_load8(p, 0xFFFFFFFF); }},
      {"byte store just below 4 GiB",
       [](Z_probe_instance_t* p) { Z_probeZ_store8(p, 0xFFFFFFFF, 1); }},
      {"byte load at 4 GiB - 1 by the constant offset",
       [](Z_probe_instance_t* p) { Z_probeZ_load8_far(p, 0); }},
      {"byte load at 8 GiB - 2, the farthest address",
       [](Z_probe_instance_t* p) { Z_probeZ_load8_far(p, 0xFFFFFFFF); }},
      {"eight-byte store from 8 GiB - 2, past the reservation's end",
       [](Z_probe_instance_t* p) { Z_probeZ_store64_far(p, 0xFFFFFFFF, ~0ull); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.why);
    EXPECT_EQ(run_guarded(memory_, [&] { c.call(probe_); }), WASM_RT_TRAP_OOB);
    EXPECT_EQ(tail(), std::vector<uint8_t>(8, 0));
  }
  EXPECT_EQ(run_guarded(memory_, [&] { Z_probeZ_store8(probe_, end() - 1, 7); }), WASM_RT_TRAP_NONE)
      << "the instance is whole after the traps";
}

TEST_F(RuntimeChecksTest, TheFiveHundredAndFirstNestedCallTraps) {
  // deep(n) makes n + 1 nested calls, itself included
  uint32_t result = 0;
  EXPECT_EQ(run_guarded(memory_, [&] { result = Z_probeZ_deep(probe_, DEPTH_LIMIT - 1); }),
            WASM_RT_TRAP_NONE);
  EXPECT_EQ(result, DEPTH_LIMIT - 1);
  EXPECT_EQ(wasm_rt_call_stack_depth, 0u) << "every return restores the counter";

  EXPECT_EQ(run_guarded(memory_, [&] { Z_probeZ_deep(probe_, DEPTH_LIMIT); }),
            WASM_RT_TRAP_EXHAUSTION);
  EXPECT_EQ(wasm_rt_call_stack_depth, 0u) << "the recovery point restores the counter";

  // the instance is whole after the trap
  EXPECT_EQ(run_guarded(memory_, [&] { result = Z_probeZ_deep(probe_, DEPTH_LIMIT - 1); }),
            WASM_RT_TRAP_NONE);
  EXPECT_EQ(result, DEPTH_LIMIT - 1);
  EXPECT_EQ(run_guarded(memory_, [&] { Z_probeZ_store8(probe_, end() - 1, 7); }),
            WASM_RT_TRAP_NONE);
  EXPECT_EQ(memory_->data[end() - 1], 7);
}

TEST_F(RuntimeChecksTest, GrowthIsBoundedByTheMaximum) {
  struct Case {
    uint32_t pages;
    uint32_t result;
    uint32_t after;
    const char* why;
  };
  const Case cases[] = {
      {0, INITIAL_PAGES, INITIAL_PAGES, "growing by 0 reports the count"},
      {MAX_PAGES - INITIAL_PAGES + 1, 0xFFFFFFFF, INITIAL_PAGES, "past the maximum"},
      {0xFFFFFFFF, 0xFFFFFFFF, INITIAL_PAGES, "page count wraps"},
      {1, INITIAL_PAGES, INITIAL_PAGES + 1, "one page"},
      {MAX_PAGES - INITIAL_PAGES - 1, INITIAL_PAGES + 1, MAX_PAGES, "up to the maximum"},
      {1, 0xFFFFFFFF, MAX_PAGES, "nothing beyond it"},
      {0, MAX_PAGES, MAX_PAGES, "growing by 0 at the maximum"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.why);
    uint32_t result = 0, pages = 0;
    ASSERT_EQ(run_guarded(memory_, [&] {
                result = Z_probeZ_grow(probe_, c.pages);
                pages = Z_probeZ_size(probe_);
              }),
              WASM_RT_TRAP_NONE);
    EXPECT_EQ(result, c.result);
    EXPECT_EQ(pages, c.after);
    EXPECT_EQ(memory_->size, uint64_t(c.after) * 65536);
  }
}

TEST_F(RuntimeChecksTest, GrownMemoryIsZeroedAndInBounds) {
  const uint32_t old_end = end();
  uint32_t value = 1;
  ASSERT_EQ(run_guarded(memory_, [&] { Z_probeZ_grow(probe_, 2); }), WASM_RT_TRAP_NONE);
  EXPECT_EQ(run_guarded(memory_, [&] { value = Z_probeZ_load8(probe_, old_end); }),
            WASM_RT_TRAP_NONE);
  EXPECT_EQ(value, 0u);
  EXPECT_EQ(run_guarded(memory_, [&] { Z_probeZ_store32(probe_, end() - 4, 1); }),
            WASM_RT_TRAP_NONE);
  EXPECT_EQ(run_guarded(memory_, [&] { Z_probeZ_store32(probe_, end() - 3, 1); }),
            WASM_RT_TRAP_OOB);
}

}  // namespace
