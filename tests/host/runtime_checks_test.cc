// The checks every translated module carries, seen from a small probe module
// in both its translations, by guard pages and by explicit checks: memory
// bounds, the call-depth limit, memory growth, and recovery from a trap.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <vector>

#include "module_host.h"
#include "probe.h"
#include "probechecked.h"

namespace {

// The probe's exports in the translation whose prefix is `prefix`.
#define PROBE_TRANSLATION(Name, prefix, guard_pages)                                           \
  VELT_PLAIN_TRANSLATION(Name##Lifecycle, prefix, guard_pages);                                \
  struct Name : Name##Lifecycle {                                                              \
    static uint32_t load8(Instance* p, uint32_t at) { return Z_##prefix##Z_load8(p, at); }     \
    static void store8(Instance* p, uint32_t at, uint32_t v) { Z_##prefix##Z_store8(p, at, v); } \
    static void store32(Instance* p, uint32_t at, uint32_t v) { Z_##prefix##Z_store32(p, at, v); } \
    static void fill(Instance* p, uint32_t at, uint32_t v, uint32_t n) {                       \
      Z_##prefix##Z_fill(p, at, v, n);                                                         \
    }                                                                                          \
    static uint32_t deep(Instance* p, uint32_t levels) { return Z_##prefix##Z_deep(p, levels); } \
    static uint32_t grow(Instance* p, uint32_t pages) { return Z_##prefix##Z_grow(p, pages); } \
    static uint32_t size(Instance* p) { return Z_##prefix##Z_size(p); }                        \
    static uint32_t load8_far(Instance* p, uint32_t at) { return Z_##prefix##Z_load8_far(p, at); } \
    static void store64_far(Instance* p, uint32_t at, uint64_t v) {                            \
      Z_##prefix##Z_store64_far(p, at, v);                                                     \
    }                                                                                          \
  }

PROBE_TRANSLATION(GuardPages, probe, true);
PROBE_TRANSLATION(ExplicitChecks, probechecked, false);

constexpr uint32_t INITIAL_PAGES = 1024;
constexpr uint32_t MAX_PAGES = 32768;
constexpr uint32_t DEPTH_LIMIT = 500;

template <typename Probe>
class RuntimeChecksTest : public ::testing::Test {
 protected:
  using Instance = typename Probe::Instance;

  void SetUp() override {
    module_ = std::make_unique<ModuleHost<Probe>>();
    probe_ = module_->instance();
    memory_ = module_->memory();
  }
  void TearDown() override { module_.reset(); }

  // as the module host calls in: a fault is a trap only with guard pages
  template <typename Call>
  wasm_rt_trap_t run(Call&& call) {
    return module_->call(std::forward<Call>(call));
  }
  uint32_t end() const { return memory_->size; }
  // read afresh each time: a checked memory moves when it grows
  std::vector<uint8_t> tail() const {
    return std::vector<uint8_t>(memory_->data + end() - 8, memory_->data + end());
  }

  std::unique_ptr<ModuleHost<Probe>> module_;
  Instance* probe_ = nullptr;
  wasm_rt_memory_t* memory_ = nullptr;
};

struct TranslationName {
  template <typename Probe>
  static std::string GetName(int) {
    return Probe::GUARD_PAGES ? "GuardPages" : "ExplicitChecks";
  }
};
using Translations = ::testing::Types<GuardPages, ExplicitChecks>;
TYPED_TEST_SUITE(RuntimeChecksTest, Translations, TranslationName);

TYPED_TEST(RuntimeChecksTest, AccessesMustEndInsideTheMemory) {
  using Instance = typename TypeParam::Instance;
  struct Case {
    const char* why;
    void (*call)(Instance*, uint32_t);
    uint32_t back;  // the access starts this many bytes before the end
    wasm_rt_trap_t trap;
  };
  auto store8 = [](Instance* p, uint32_t at) { TypeParam::store8(p, at, 0xAB); };
  auto store32 = [](Instance* p, uint32_t at) { TypeParam::store32(p, at, 0xABABABAB); };
  auto load8 = [](Instance* p, uint32_t at) { TypeParam::load8(p, at); };
  auto fill4 = [](Instance* p, uint32_t at) { TypeParam::fill(p, at, 0xAB, 4); };
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
    memset(this->memory_->data + this->end() - 8, 0, 8);
    EXPECT_EQ(this->run([&] { c.call(this->probe_, this->end() - c.back); }), c.trap);
    // a trapping access writes nothing, not even the part inside
    if (c.trap != WASM_RT_TRAP_NONE) {
      EXPECT_EQ(this->tail(), std::vector<uint8_t>(8, 0));
    }
  }
  EXPECT_EQ(this->run([&] { TypeParam::store32(this->probe_, 0xFFFFFFFE, 1); }),
            WASM_RT_TRAP_OOB)
      << "offset + width wraps in 32 bits";
  EXPECT_EQ(this->run([&] { TypeParam::fill(this->probe_, 16, 0, 0xFFFFFFF8); }),
            WASM_RT_TRAP_OOB)
      << "offset + length wraps in 32 bits";
}

TYPED_TEST(RuntimeChecksTest, AccessesFarBeyondTheMemoryTrapAlike) {
  using Instance = typename TypeParam::Instance;
  struct Case {
    const char* why;
    void (*call)(Instance*);
  };
  const Case cases[] = {
      {"byte load just below 4 GiB",
       [](Instance* p) { TypeParam::load8(p, 0xFFFFFFFF); }},
      {"byte store just below 4 GiB",
       [](Instance* p) { TypeParam::store8(p, 0xFFFFFFFF, 1); }},
      {"byte load at 4 GiB - 1 by the constant offset",
       [](Instance* p) { TypeParam::load8_far(p, 0); }},
      {"byte load at 8 GiB - 2, the farthest address",
       [](Instance* p) { TypeParam::load8_far(p, 0xFFFFFFFF); }},
      {"eight-byte store from 8 GiB - 2, past the reservation's end",
       [](Instance* p) { TypeParam::store64_far(p, 0xFFFFFFFF, ~0ull); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.why);
    EXPECT_EQ(this->run([&] { c.call(this->probe_); }), WASM_RT_TRAP_OOB);
    EXPECT_EQ(this->tail(), std::vector<uint8_t>(8, 0));
  }
  EXPECT_EQ(this->run([&] { TypeParam::store8(this->probe_, this->end() - 1, 7); }),
            WASM_RT_TRAP_NONE)
      << "the instance is whole after the traps";
}

TYPED_TEST(RuntimeChecksTest, TheFiveHundredAndFirstNestedCallTraps) {
  // deep(n) makes n + 1 nested calls, itself included
  uint32_t result = 0;
  EXPECT_EQ(this->run([&] { result = TypeParam::deep(this->probe_, DEPTH_LIMIT - 1); }),
            WASM_RT_TRAP_NONE);
  EXPECT_EQ(result, DEPTH_LIMIT - 1);
  EXPECT_EQ(wasm_rt_call_stack_depth, 0u) << "every return restores the counter";

  EXPECT_EQ(this->run([&] { TypeParam::deep(this->probe_, DEPTH_LIMIT); }),
            WASM_RT_TRAP_EXHAUSTION);
  EXPECT_EQ(wasm_rt_call_stack_depth, 0u) << "the recovery point restores the counter";

  // the instance is whole after the trap
  EXPECT_EQ(this->run([&] { result = TypeParam::deep(this->probe_, DEPTH_LIMIT - 1); }),
            WASM_RT_TRAP_NONE);
  EXPECT_EQ(result, DEPTH_LIMIT - 1);
  EXPECT_EQ(this->run([&] { TypeParam::store8(this->probe_, this->end() - 1, 7); }),
            WASM_RT_TRAP_NONE);
  EXPECT_EQ(this->memory_->data[this->end() - 1], 7);
}

TYPED_TEST(RuntimeChecksTest, GrowthIsBoundedByTheMaximum) {
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
    ASSERT_EQ(this->run([&] {
                result = TypeParam::grow(this->probe_, c.pages);
                pages = TypeParam::size(this->probe_);
              }),
              WASM_RT_TRAP_NONE);
    EXPECT_EQ(result, c.result);
    EXPECT_EQ(pages, c.after);
    EXPECT_EQ(this->memory_->size, uint64_t(c.after) * 65536);
  }
}

TYPED_TEST(RuntimeChecksTest, GrownMemoryIsZeroedAndInBounds) {
  const uint32_t old_end = this->end();
  uint32_t value = 1;
  ASSERT_EQ(this->run([&] { TypeParam::grow(this->probe_, 2); }), WASM_RT_TRAP_NONE);
  EXPECT_EQ(this->run([&] { value = TypeParam::load8(this->probe_, old_end); }),
            WASM_RT_TRAP_NONE);
  EXPECT_EQ(value, 0u);
  EXPECT_EQ(this->run([&] { TypeParam::store32(this->probe_, this->end() - 4, 1); }),
            WASM_RT_TRAP_NONE);
  EXPECT_EQ(this->run([&] { TypeParam::store32(this->probe_, this->end() - 3, 1); }),
            WASM_RT_TRAP_OOB);
}

}  // namespace
