// The encoder module instance as the driver sees it: its memory after start-up,
// the stack-pointer exports and the module heap behind exports l and k.
#include "module_instance.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

#include "driver.h"
#include "velt_instance_fixture.h"

namespace {

constexpr uint32_t PAGE = 65536;

class ModuleInstanceTest : public VeltInstanceTest {
 protected:
  // The stack pointer's start, where the stack grows down from and the heap up.
  uint32_t stack_top() {
    uint32_t top = 0;
    EXPECT_EQ(run_guarded(memory_, [&] { top = Z_veltZ_p(instance_); }), WASM_RT_TRAP_NONE);
    return top;
  }
  uint32_t allocate(uint32_t size) {
    uint32_t at = 0;
    EXPECT_EQ(run_guarded(memory_, [&] { at = Z_veltZ_l(instance_, size); }), WASM_RT_TRAP_NONE);
    return at;
  }
  void release(uint32_t at) {
    EXPECT_EQ(run_guarded(memory_, [&] { Z_veltZ_k(instance_, at); }), WASM_RT_TRAP_NONE);
  }
};

TEST_F(ModuleInstanceTest, MemoryStartsAtOneThousandTwentyFourPages) {
  EXPECT_EQ(memory_->pages, 1024u);
  EXPECT_EQ(memory_->size, 67108864u);
  EXPECT_EQ(memory_->max_pages, 32768u);
  EXPECT_EQ(instance_->Z_a_instance, context_);
}

TEST_F(ModuleInstanceTest, StackReservationsKeepSixteenByteAlignment) {
  const uint32_t top = stack_top();
  ASSERT_EQ(top % 16, 0u);

  struct Case {
    uint32_t start;
    uint32_t size;
    uint32_t expected;
    const char* why;
  };
  const Case cases[] = {
      {top, 20, top - 32, "20 bytes take 32"},
      {top, 16, top - 16, "a multiple of 16 takes itself"},
      {top, 1, top - 16, "one byte takes 16"},
      {top, 0, top, "nothing moves"},
      {top + 8, 8, top, "an unaligned pointer is aligned down"},
      {top + 8, 9, top - 16, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.why);
    uint32_t reserved = 0, after = 0;
    ASSERT_EQ(run_guarded(memory_, [&] {
                Z_veltZ_n(instance_, c.start);
                reserved = Z_veltZ_o(instance_, c.size);
                after = Z_veltZ_p(instance_);
              }),
              WASM_RT_TRAP_NONE);
    EXPECT_EQ(reserved, c.expected);
    EXPECT_EQ(after, c.expected);
  }
}

TEST_F(ModuleInstanceTest, AllocationsAreAlignedAndDisjoint) {
  struct Block {
    uint32_t at, size;
  };
  const uint32_t top = stack_top();
  std::vector<Block> blocks;
  for (uint32_t size : {1u, 15u, 16u, 17u, 100u, 4096u, 65536u, 1u, 0x100000u})
    blocks.push_back({allocate(size), size});

  for (const Block& b : blocks) {
    SCOPED_TRACE(b.size);
    EXPECT_EQ(b.at % 16, 0u);
    EXPECT_GE(b.at, top) << "the heap lies above the stack";
    EXPECT_LE(uint64_t(b.at) + b.size, memory_->size);
  }
  std::sort(blocks.begin(), blocks.end(), [](Block a, Block b) { return a.at < b.at; });
  for (size_t i = 1; i < blocks.size(); ++i)
    EXPECT_LE(uint64_t(blocks[i - 1].at) + blocks[i - 1].size, blocks[i].at)
        << "blocks at " << blocks[i - 1].at << " and " << blocks[i].at << " overlap";
  for (const Block& b : blocks) release(b.at);
}

TEST_F(ModuleInstanceTest, FreedBlocksAreReused) {
  const uint32_t size = 4 << 20;
  release(allocate(size));
  const uint32_t pages = memory_->pages;
  for (int i = 0; i < 100; ++i) {
    uint32_t at = allocate(size);
    ASSERT_NE(at, 0u);
    release(at);
  }
  EXPECT_EQ(memory_->pages, pages);
}

TEST_F(ModuleInstanceTest, ImpossibleRequestsFailAndLeaveTheMemoryAlone) {
  for (uint32_t size : {0x7FFFFFFFu, 0x80000000u, 0xC0000000u, 0xFFFFFFF0u, 0xFFFFFFFFu}) {
    SCOPED_TRACE(size);
    EXPECT_EQ(allocate(size), 0u);
    EXPECT_EQ(memory_->pages, 1024u);
  }
  EXPECT_NE(allocate(64), 0u) << "the heap still works";
}

TEST_F(ModuleInstanceTest, LargeRequestsGrowTheMemory) {
  const uint32_t size = 100 << 20;
  const uint32_t at = allocate(size);
  ASSERT_NE(at, 0u);
  EXPECT_GT(memory_->pages, 1024u);
  EXPECT_LE(uint64_t(at) + size, memory_->size);
  EXPECT_EQ(memory_->size, uint64_t(memory_->pages) * PAGE);
}

}  // namespace

// A path offset outside the memory must stop the encoder with a trap before
// it reads a byte: nothing of the host's memory is reachable through it.
TEST_F(ModuleInstanceTest, EncoderGivenAPathOutsideItsMemoryTraps) {
  uint32_t output = allocate(16);
  std::memcpy(memory_->data + output, "/dev/null", 10);
  for (uint32_t pattern : {memory_->size, 0xFFFFFFF0u}) {
    wasm_rt_trap_t trap =
        run_guarded(memory_, [&] { Z_veltZ_m(instance_, pattern, output, 0, 20); });
    EXPECT_EQ(trap, WASM_RT_TRAP_OOB) << pattern;
  }
}

TEST(TrapReport, NamesTheTrapOnStandardErrorAndAborts) {
  EXPECT_DEATH(abort_on_trap(WASM_RT_TRAP_OOB),
               "^Trap: Out-of-bounds access in linear memory or a table\n$");
  EXPECT_DEATH(abort_on_trap(WASM_RT_TRAP_EXHAUSTION), "^Trap: Call stack exhausted\n$");
}
