// A fresh encoder module instance for each test, made by the module host:
// services context, instance, start-up. It may read any file, and write the
// path given to output_.
#ifndef VELT_TESTS_VELT_INSTANCE_FIXTURE_H
#define VELT_TESTS_VELT_INSTANCE_FIXTURE_H

#include <gtest/gtest.h>

#include <memory>

#include "module_host.h"

VELT_LIBRARY_MODULE(FixtureEncoderModule, velt);

class VeltInstanceTest : public ::testing::Test {
 protected:
  void SetUp() override { make_instance(); }
  void TearDown() override { module_.reset(); }

  void make_instance() {
    FileGrants grants;
    grants.readable = [](const std::string& path) {
      return ReadGrant{ReadGrant::GRANTED, path};
    };
    grants.output = &output_;
    module_ = std::make_unique<ModuleHost<FixtureEncoderModule>>(std::move(grants));
    ASSERT_EQ(module_->start_trap(), WASM_RT_TRAP_NONE);
    instance_ = module_->instance();
    context_ = module_->services();
    memory_ = module_->memory();
  }

  OutputGrant output_;  // outlives the instance that writes it
  std::unique_ptr<ModuleHost<FixtureEncoderModule>> module_;
  Z_velt_instance_t* instance_ = nullptr;
  Z_a_instance_t* context_ = nullptr;
  wasm_rt_memory_t* memory_ = nullptr;
};

#endif
