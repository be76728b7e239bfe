// The sandboxed module and the same encoder built natively write the same
// bytes: the translation and its float settings change no record.
#include <gtest/gtest.h>

#include "e2e_support.h"

namespace e2e {
namespace {

TEST(SandboxMatchesNative, BundledExampleInBothEightByteModes) {
  TempDir dir;
  const std::string pattern = std::string(VELT_SOURCE_DIR) + "/examples/wheel/frame_X.png";
  for (const char* flags : {"0", "1"}) {
    const std::string sandboxed = dir.file(std::string("module_") + flags + ".velt");
    const std::string native = dir.file(std::string("native_") + flags + ".velt");
    ASSERT_EQ(run_encode_flags({pattern, sandboxed, "20", flags}).exit_status, 0);
    ASSERT_EQ(run_program(VELT_ENCODE_NATIVE_PATH, {pattern, native, "20", flags}).exit_status, 0);
    const Bytes file = read_file(sandboxed);
    EXPECT_GT(file.size(), 10u + 128) << "flags " << flags;
    EXPECT_TRUE(same_bytes(file, read_file(native))) << "flags " << flags;
  }
}

}  // namespace
}  // namespace e2e
