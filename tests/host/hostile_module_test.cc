// A module taken over by an attacker, seen from its host: every way it tries
// past the files its host granted, and past the edges of the services, is
// refused, and nothing on disk changes.
#include <dirent.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>

#include <gtest/gtest.h>

#include "hostile.h"
#include "module_host.h"

namespace {

namespace fs = std::filesystem;

VELT_LIBRARY_MODULE(HostileModule, hostile);

constexpr uint32_t NEG_EACCES = uint32_t(-WASI_EACCES);
constexpr uint32_t NEG_EINVAL = uint32_t(-WASI_EINVAL);

// Every file under `dir` with its bytes.
std::map<std::string, std::string> snapshot(const fs::path& dir) {
  std::map<std::string, std::string> files;
  for (const auto& entry : fs::recursive_directory_iterator(dir)) {
    std::ifstream in(entry.path(), std::ios::binary);
    std::stringstream bytes;
    if (entry.is_regular_file()) bytes << in.rdbuf();
    files[entry.path().string()] = bytes.str();
  }
  return files;
}

// An encoder's grants over a directory with two frames, an old output and a
// file that belongs to nobody's run.
class HostileModuleTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // a directory without 'X' in its name, which the pattern would number
    do {
      char name[] = "/tmp/velt_hostile_XXXXXX";
      ASSERT_NE(mkdtemp(name), nullptr);
      if (!std::strchr(name, 'X')) dir_ = name;
      else fs::remove(name);
    } while (dir_.empty());
    for (const char* file : {"f_0.png", "f_1.png", "secret.txt", "out.velt"})
      std::ofstream(dir_ / file) << file;
    pattern_ = (dir_ / "f_X.png").string();
    output_.path = (dir_ / "out.velt").string();
    before_ = snapshot(dir_);
  }
  void TearDown() override {
    output_.file.discard();  // as its host does after a run it does not keep
    EXPECT_EQ(snapshot(dir_), before_) << "something on disk changed";
    fs::remove_all(dir_);
  }

  std::unique_ptr<ModuleHost<HostileModule>> make_module() {
    FileGrants grants = pattern_grants(pattern_);
    grants.output = &output_;
    auto module = std::make_unique<ModuleHost<HostileModule>>(std::move(grants));
    EXPECT_EQ(module->start_trap(), WASM_RT_TRAP_NONE);
    return module;
  }

  // Puts `bytes` in the module's scratch area; its offset.
  static uint32_t put(ModuleHost<HostileModule>& m, const std::string& bytes) {
    uint32_t at = Z_hostileZ_l(m.instance(), 0);
    std::memcpy(m.memory()->data + at, bytes.data(), bytes.size());
    return at;
  }
  static uint32_t open(ModuleHost<HostileModule>& m, const std::string& path, uint32_t flags) {
    uint32_t result = 0;
    uint32_t at = put(m, path + '\0');
    EXPECT_EQ(m.call([&] { result = Z_hostileZ_open(m.instance(), at, flags); }),
              WASM_RT_TRAP_NONE);
    return result;
  }

  fs::path dir_;
  std::string pattern_;
  OutputGrant output_;
  std::map<std::string, std::string> before_;
};

TEST_F(HostileModuleTest, OpensOnlyWhatItsHostGranted) {
  auto module = make_module();
  const std::string d = dir_.string();
  struct Case {
    std::string path;
    uint32_t flags;
    uint32_t result;
    const char* why;
  };
  const Case cases[] = {
      {d + "/secret.txt", 0, NEG_EACCES, "another file for reading"},
      {d + "/out.velt", 0, NEG_EACCES, "the output for reading"},
      {d + "/f_0.png", 0x241, NEG_EACCES, "a frame for writing"},
      {d + "/f_0.png", 0x2, NEG_EACCES, "a frame for reading and writing"},
      {d + "/out.velt", 0x2, NEG_EACCES, "the output for reading and writing"},
      {d + "/f_0.png/../secret.txt", 0, NEG_EACCES, "'..' behind a frame's name"},
      {d + "/../" + dir_.filename().string() + "/f_0.png", 0, NEG_EACCES, "a frame by another way"},
      {"/etc/passwd", 0, NEG_EACCES, "an absolute path outside the pattern"},
      {d + "/f_01.png", 0, NEG_EACCES, "a number with a leading zero"},
      {d + "/f_-1.png", 0, NEG_EACCES, "a negative number"},
      {d + "/f_", 0, NEG_EACCES, "a granted name's beginning"},
      {d + "/f_9.png", 0, uint32_t(-WASI_ENOENT), "a frame the pattern names that does not exist"},
      {d + "/f_1.png", 0, 3u, "a frame, read-only"},
      {d + "/f_0.png\0/../secret.txt", 0, 4u, "a frame up to its NUL: only the frame is opened"},
      {d + "/out.velt", 0x241, 5u, "the output, write-only (into a file beside it)"},
  };
  for (const Case& c : cases) EXPECT_EQ(open(*module, c.path, c.flags), c.result) << c.why;
}

TEST_F(HostileModuleTest, DescriptorsAreItsOwn) {
  auto first = make_module();
  auto second = make_module();
  ASSERT_EQ(open(*first, (dir_ / "f_0.png").string(), 0), 3u);
  uint32_t vector = put(*second, std::string(8, '\0'));
  struct Case {
    const char* why;
    std::function<uint32_t(Z_hostile_instance_t*)> attempt;
  };
  const Case cases[] = {
      {"close another instance's descriptor", [](auto* m) { return Z_hostileZ_close(m, 3); }},
      {"read it", [&](auto* m) { return Z_hostileZ_read(m, 3, vector, 1, vector); }},
      {"write it", [&](auto* m) { return Z_hostileZ_write(m, 3, vector, 1, vector); }},
      {"seek it", [&](auto* m) { return Z_hostileZ_seek(m, 3, 0, 0, vector); }},
      {"close one never opened", [](auto* m) { return Z_hostileZ_close(m, 40); }},
      {"close past the table", [](auto* m) { return Z_hostileZ_close(m, 64); }},
      {"read descriptor 0", [&](auto* m) { return Z_hostileZ_read(m, 0, vector, 1, vector); }},
      {"read a huge descriptor", [&](auto* m) { return Z_hostileZ_read(m, ~0u, vector, 1, vector); }},
  };
  for (const Case& c : cases) {
    uint32_t result = 0;
    EXPECT_EQ(second->call([&] { result = c.attempt(second->instance()); }), WASM_RT_TRAP_NONE);
    EXPECT_EQ(result, uint32_t(WASI_EBADF)) << c.why;
  }
  // the first instance's descriptor is untouched
  uint32_t closed = 0;
  first->call([&] { closed = Z_hostileZ_close(first->instance(), 3); });
  EXPECT_EQ(closed, 0u);
}

// Offsets and lengths at and past the memory's edges, through each service
// that takes one: refused with WASI's EINVAL (negated for open), nothing done.
TEST_F(HostileModuleTest, RangesPastTheMemoryAreRefused) {
  auto module = make_module();
  ASSERT_EQ(open(*module, (dir_ / "f_0.png").string(), 0), 3u);
  ASSERT_EQ(open(*module, output_.path, 0x241), 4u);
  const uint32_t end = uint32_t(module->memory()->size);
  // a vector of one entry at `at` naming `buffer`, `length`
  auto vector_at = [&](uint32_t at, uint32_t buffer, uint32_t length) {
    uint8_t* p = module->memory()->data + at;
    std::memcpy(p, &buffer, 4);
    std::memcpy(p + 4, &length, 4);
    return at;
  };
  const uint32_t good = put(*module, std::string(64, '\0'));
  struct Case {
    const char* why;
    std::function<uint32_t(Z_hostile_instance_t*)> attempt;
    uint32_t result;
  };
  const Case cases[] = {
      {"open: path at the end", [&](auto* m) { return Z_hostileZ_open(m, end, 0); }, NEG_EINVAL},
      {"open: path past 4 GiB", [&](auto* m) { return Z_hostileZ_open(m, ~0u, 0); }, NEG_EINVAL},
      {"open: no NUL before the end",
       [&](auto* m) {
         std::memset(module->memory()->data + end - 4, 'a', 4);
         return Z_hostileZ_open(m, end - 4, 0);
       },
       NEG_EINVAL},
      {"read: vector past the end", [&](auto* m) { return Z_hostileZ_read(m, 3, end - 4, 1, good); },
       uint32_t(WASI_EINVAL)},
      {"read: buffer wraps",
       [&](auto* m) { return Z_hostileZ_read(m, 3, vector_at(good, ~0u, 2), 1, good + 32); },
       uint32_t(WASI_EINVAL)},
      {"read: count past the end",
       [&](auto* m) { return Z_hostileZ_read(m, 3, vector_at(good, good + 16, 4), 1, end - 3); },
       uint32_t(WASI_EINVAL)},
      {"read: vector length wraps",
       [&](auto* m) { return Z_hostileZ_read(m, 3, good, 0x20000001, good + 32); },
       uint32_t(WASI_EINVAL)},
      {"write: buffer crosses the end",
       [&](auto* m) { return Z_hostileZ_write(m, 4, vector_at(good, end - 4, 8), 1, good + 32); },
       uint32_t(WASI_EINVAL)},
      {"write: count wraps",
       [&](auto* m) { return Z_hostileZ_write(m, 4, vector_at(good, good + 16, 4), 1, ~0u); },
       uint32_t(WASI_EINVAL)},
      {"seek: new offset past the end", [&](auto* m) { return Z_hostileZ_seek(m, 3, 0, 0, end - 7); },
       uint32_t(WASI_EINVAL)},
      {"seek: whence 3", [&](auto* m) { return Z_hostileZ_seek(m, 3, 0, 3, good); },
       uint32_t(WASI_EINVAL)},
      {"grow: past the maximum", [](auto* m) { return Z_hostileZ_grow(m, 0x80000001u); }, 0u},
      {"fcntl: command 5", [](auto* m) { return Z_hostileZ_fcntl(m, 3, 5, 0); }, NEG_EINVAL},
      {"ioctl: a file is no terminal", [](auto* m) { return Z_hostileZ_ioctl(m, 3, 0x5401, 0); },
       NEG_EINVAL},
  };
  for (const Case& c : cases) {
    uint32_t result = 0;
    EXPECT_EQ(module->call([&] { result = c.attempt(module->instance()); }), WASM_RT_TRAP_NONE)
        << c.why;
    EXPECT_EQ(result, c.result) << c.why;
  }
}

}  // namespace
