// A fresh encoder module instance for each test, set up as the driver does:
// services context, instance, static initialisation.
#ifndef VELT_TESTS_VELT_INSTANCE_FIXTURE_H
#define VELT_TESTS_VELT_INSTANCE_FIXTURE_H

#include <gtest/gtest.h>

#include "file_services.h"
#include "module_instance.h"

class VeltInstanceTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    if (!wasm_rt_is_initialized()) velt_runtime_init();
  }
  void SetUp() override {
    context_ = wasm_syscalls_init(&instance_);
    wasm2c_velt_instantiate(&instance_, context_);
    memory_ = Z_veltZ_memory(&instance_);
    ASSERT_EQ(run_guarded([&] { Z_veltZ_j(&instance_); }), WASM_RT_TRAP_NONE);
  }
  void TearDown() override {
    wasm2c_velt_free(&instance_);
    wasm_syscalls_free(context_);
  }

  Z_velt_instance_t instance_{};
  Z_a_instance_t* context_ = nullptr;
  wasm_rt_memory_t* memory_ = nullptr;
};

#endif
