// The host services, called directly with data written into a real encoder
// module instance's memory.
#include "file_services.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "velt_instance_fixture.h"

namespace {

namespace fs = std::filesystem;

constexpr uint32_t NEG_EINVAL = uint32_t(-WASI_EINVAL);
constexpr uint32_t NEG_ENOTTY = uint32_t(-WASI_ENOTTY);
constexpr uint32_t NEG_EMFILE = uint32_t(-WASI_EMFILE);

// Work areas in module memory, well above the data image and the stack.
constexpr uint32_t PATH_AT = 0x100000;
constexpr uint32_t VECTORS_AT = 0x101000;
constexpr uint32_t BUFFERS_AT = 0x102000;
constexpr uint32_t RESULT_AT = 0x103000;

// One I/O vector entry as the module lays it out.
struct Entry {
  uint32_t buffer;
  uint32_t length;
};

// Sends everything written to host descriptor `fd` into a file while alive.
class Capture {
 public:
  explicit Capture(int fd) : fd_(fd) {
    fflush(nullptr);
    char name[] = "/tmp/velt_capture_XXXXXX";
    file_ = mkstemp(name);
    unlink(name);
    saved_ = dup(fd_);
    dup2(file_, fd_);
  }
  ~Capture() { restore(); }

  // Ends the capture and returns what was written.
  std::string text() {
    restore();
    std::string out;
    char chunk[256];
    lseek(file_, 0, SEEK_SET);
    for (ssize_t n; (n = read(file_, chunk, sizeof chunk)) > 0;) out.append(chunk, size_t(n));
    return out;
  }

 private:
  void restore() {
    if (saved_ < 0) return;
    fflush(nullptr);
    dup2(saved_, fd_);
    close(saved_);
    saved_ = -1;
  }
  int fd_;
  int file_;
  int saved_;
};

class FileServicesTest : public VeltInstanceTest {
 protected:
  void SetUp() override {
    VeltInstanceTest::SetUp();
    char name[] = "/tmp/velt_services_XXXXXX";
    ASSERT_NE(mkdtemp(name), nullptr);
    dir_ = name;
  }

  void TearDown() override {
    VeltInstanceTest::TearDown();
    fs::remove_all(dir_);
  }

  uint8_t* at(uint32_t offset) { return memory_->data + offset; }
  uint32_t end() const { return memory_->size; }

  void put(uint32_t offset, const std::string& bytes) {
    memcpy(at(offset), bytes.data(), bytes.size());
  }
  void put_u32(uint32_t offset, uint32_t value) {
    for (int i = 0; i < 4; ++i) *at(offset + i) = uint8_t(value >> (8 * i));
  }
  uint32_t get_u32(uint32_t offset) {
    uint32_t value = 0;
    for (int i = 3; i >= 0; --i) value = value << 8 | *at(offset + i);
    return value;
  }
  uint64_t get_u64(uint32_t offset) {
    return get_u32(offset) | uint64_t(get_u32(offset + 4)) << 32;
  }
  // Lays out the entries at `iovs`, leaving out any that fall past the end.
  void put_vectors(uint32_t iovs, const std::vector<Entry>& entries) {
    for (size_t i = 0; i < entries.size(); ++i) {
      uint64_t entry = uint64_t(iovs) + i * 8;
      if (entry + 8 > end()) break;
      put_u32(uint32_t(entry), entries[i].buffer);
      put_u32(uint32_t(entry + 4), entries[i].length);
    }
  }

  std::string path(const std::string& name) const { return (dir_ / name).string(); }
  void make_file(const std::string& name, const std::string& content) {
    std::ofstream(path(name), std::ios::binary) << content;
  }
  std::string file_content(const std::string& name) {
    std::ifstream in(path(name), std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
  }

  // Each service call runs with the recovery point armed, as calls from the
  // module do.
  template <typename Call>
  uint32_t guarded(Call call) {
    uint32_t result = 0xBAD0BAD0;
    EXPECT_EQ(run_guarded(memory_, [&] { result = call(); }), WASM_RT_TRAP_NONE)
        << "fault in a service";
    return result;
  }
  uint32_t close_fd(uint32_t fd) {
    return guarded([&] { return Z_aZ_a(context_, fd); });
  }
  uint32_t write_v(uint32_t fd, uint32_t iovs, uint32_t iovs_len, uint32_t nwritten) {
    return guarded([&] { return Z_aZ_b(context_, fd, iovs, iovs_len, nwritten); });
  }
  uint32_t grow_heap(uint32_t requested) {
    return guarded([&] { return Z_aZ_d(context_, requested); });
  }
  uint32_t seek_at(uint32_t fd, uint64_t offset, uint32_t whence, uint32_t newoffset) {
    return guarded([&] { return Z_aZ_e(context_, fd, offset, whence, newoffset); });
  }
  uint32_t read_v(uint32_t fd, uint32_t iovs, uint32_t iovs_len, uint32_t nread) {
    return guarded([&] { return Z_aZ_f(context_, fd, iovs, iovs_len, nread); });
  }
  uint32_t open_at(uint32_t path_at, uint32_t flags) {
    return guarded([&] { return Z_aZ_h(context_, 0, path_at, flags, 0644); });
  }

  uint32_t open(const std::string& host_path, uint32_t flags) {
    put(PATH_AT, host_path + '\0');
    return open_at(PATH_AT, flags);
  }
  uint32_t write(uint32_t fd, const std::string& bytes) {
    put(BUFFERS_AT, bytes);
    put_vectors(VECTORS_AT, {{BUFFERS_AT, uint32_t(bytes.size())}});
    return write_v(fd, VECTORS_AT, 1, RESULT_AT);
  }
  uint32_t seek(uint32_t fd, int64_t offset, uint32_t whence) {
    return seek_at(fd, uint64_t(offset), whence, RESULT_AT);
  }

  fs::path dir_;
};

TEST_F(FileServicesTest, OpenTakesTheLowestFreeDescriptorUntilTheTableIsFull) {
  make_file("frame.png", "png");
  for (uint32_t fd = FIRST_FILE_FD; fd < FD_TABLE_SIZE; ++fd)
    ASSERT_EQ(open(path("frame.png"), 0), fd);
  EXPECT_EQ(open(path("frame.png"), 0), NEG_EMFILE) << "the 62nd file";

  EXPECT_EQ(close_fd(3), 0u);
  EXPECT_EQ(open(path("frame.png"), 0), 3u);
  EXPECT_EQ(close_fd(40), 0u);
  EXPECT_EQ(close_fd(9), 0u);
  EXPECT_EQ(open(path("frame.png"), 0), 9u) << "lowest free slot first";
  EXPECT_EQ(open(path("frame.png"), 0), 40u);
}

TEST_F(FileServicesTest, FailedOpenPassesOnTheHostErrorAndKeepsTheSlotFree) {
  EXPECT_EQ(open(path("missing.png"), 0), uint32_t(-WASI_ENOENT));
  EXPECT_EQ(context_->fd_table[3], nullptr);
  make_file("frame.png", "png");
  EXPECT_EQ(open(path("frame.png"), 0), 3u);
}

// Frames are read only from regular files, opened without blocking: a FIFO
// with no writer, a device or a directory is refused at once.
TEST_F(FileServicesTest, ReadingOpensOnlyRegularFiles) {
  make_file("frame.png", "png");
  ASSERT_EQ(mkfifo(path("fifo.png").c_str(), 0600), 0);
  fs::create_directory(path("dir.png"));
  fs::create_symlink(path("loop.png"), path("loop.png"));
  const struct {
    std::string path;
    uint32_t result;
  } cases[] = {
      {path("frame.png"), 3u},
      {path("fifo.png"), uint32_t(-VELT_ENOTREG)},
      {path("dir.png"), uint32_t(-VELT_ENOTREG)},
      {"/dev/zero", uint32_t(-VELT_ENOTREG)},
      {path("loop.png"), uint32_t(-32)},  // WASI's ELOOP
      {path("missing.png"), uint32_t(-WASI_ENOENT)},
  };
  for (const auto& c : cases) EXPECT_EQ(open(c.path, 0), c.result) << c.path;
}

// The output the module names is served from a file beside it that takes
// its place only when committed; it may be opened write-only alone.
TEST_F(FileServicesTest, OutputPathOpensTheHostsOutputFile) {
  make_file("out.velt", "old");
  output_.path = path("out.velt");
  ASSERT_EQ(open(path("out.velt"), 0x241), 3u);
  ASSERT_EQ(write(3, "new"), 0u);
  EXPECT_EQ(close_fd(3), 0u);
  EXPECT_EQ(file_content("out.velt"), "old") << "untouched until the host commits";
  std::string error;
  ASSERT_TRUE(output_.file.commit(&error)) << error;
  EXPECT_EQ(file_content("out.velt"), "new");

  output_.refusal = "it is an input";
  EXPECT_EQ(open(path("out.velt"), 0x241), uint32_t(-WASI_EACCES));
  EXPECT_EQ(output_.error, "it is an input");
}

TEST_F(FileServicesTest, FreeClosesAndFlushesWhatTheModuleLeftOpen) {
  output_.path = path("out.velt");
  ASSERT_EQ(open(path("out.velt"), 0x241), 3u);
  ASSERT_EQ(write(3, "header"), 0u);
  module_.reset();  // frees the instance, then its services context
  std::string error;
  ASSERT_TRUE(output_.file.commit(&error)) << error;
  EXPECT_EQ(file_content("out.velt"), "header");
}

TEST_F(FileServicesTest, DescriptorsWithoutAStreamAreRejected) {
  make_file("frame.png", "png");
  ASSERT_EQ(open(path("frame.png"), 0), 3u);
  put_vectors(VECTORS_AT, {{BUFFERS_AT, 1}});
  const uint32_t bad[] = {0, 1, 2, 4, 63, 64, 0xFFFFFFFF};
  for (uint32_t fd : bad) {
    SCOPED_TRACE(fd);
    EXPECT_EQ(close_fd(fd), uint32_t(WASI_EBADF)) << "close";
    EXPECT_EQ(read_v(fd, VECTORS_AT, 1, RESULT_AT), uint32_t(WASI_EBADF)) << "read";
    EXPECT_EQ(seek(fd, 0, 0), uint32_t(WASI_EBADF)) << "seek";
    if (fd != 1 && fd != 2) {
      EXPECT_EQ(write_v(fd, VECTORS_AT, 1, RESULT_AT), uint32_t(WASI_EBADF)) << "write";
    }
  }
  // closing 1 and 2 leaves the host's own streams open
  EXPECT_NE(fcntl(1, F_GETFD), -1);
  EXPECT_NE(fcntl(2, F_GETFD), -1);
}

TEST_F(FileServicesTest, ConsoleWritesGatherEveryEntryToTheHostStream) {
  for (uint32_t fd : {1u, 2u}) {
    SCOPED_TRACE(fd);
    put(BUFFERS_AT, "hello");
    put(BUFFERS_AT + 16, " world!");
    put_vectors(VECTORS_AT, {{BUFFERS_AT, 5}, {BUFFERS_AT + 8, 0}, {BUFFERS_AT + 16, 7}});
    put_u32(RESULT_AT, 0xDEADBEEF);
    Capture capture{int(fd)};
    EXPECT_EQ(write_v(fd, VECTORS_AT, 3, RESULT_AT), 0u);
    EXPECT_EQ(capture.text(), "hello world!");
    EXPECT_EQ(get_u32(RESULT_AT), 12u);
  }
}

TEST_F(FileServicesTest, ShortFileWriteShowsOnlyInTheTotal) {
  output_.path = "/dev/full";  // written in place: a device has nothing to keep
  ASSERT_EQ(open("/dev/full", 0x241), 3u);
  const uint32_t length = 1 << 20;  // larger than any stream buffer
  put_vectors(VECTORS_AT, {{BUFFERS_AT, length}, {BUFFERS_AT, length}});
  EXPECT_EQ(write_v(3, VECTORS_AT, 2, RESULT_AT), 0u);
  EXPECT_LT(get_u32(RESULT_AT), length);
}

TEST_F(FileServicesTest, ReadScattersUntilTheFileEnds) {
  make_file("frame.png", "0123456789");
  ASSERT_EQ(open(path("frame.png"), 0), 3u);
  memset(at(BUFFERS_AT), '.', 32);
  put_vectors(VECTORS_AT, {{BUFFERS_AT, 4}, {BUFFERS_AT + 8, 0}, {BUFFERS_AT + 16, 16}});
  EXPECT_EQ(read_v(3, VECTORS_AT, 3, RESULT_AT), 0u);
  EXPECT_EQ(get_u32(RESULT_AT), 10u);
  std::string expected(32, '.');
  expected.replace(0, 4, "0123").replace(16, 6, "456789");
  EXPECT_EQ(std::string(reinterpret_cast<char*>(at(BUFFERS_AT)), 32), expected);
}

// What each flag combination may open: a granted file read-only, the output
// write-only (append or not, the output starts empty), and nothing else.
TEST_F(FileServicesTest, OpenFlagsFollowTheGrants) {
  struct Case {
    uint32_t flags;
    const char* name;
    uint32_t result;
    const char* why;
  };
  const Case cases[] = {
      {0x0, "frame.png", 3u, "read-only, a readable file"},
      {0x241, "out.velt", 3u, "write, create, truncate: the output"},
      {0x41, "out.velt", 3u, "create alone"},
      {0x201, "out.velt", 3u, "truncate alone"},
      {0x80241, "out.velt", 3u, "other bits are ignored"},
      {0x1, "out.velt", 3u, "write-only alone"},
      {0x401, "out.velt", 3u, "write-only append"},
      {0x442, "out.velt", uint32_t(-WASI_EACCES), "read-write, create, truncate"},
      {0x402, "out.velt", uint32_t(-WASI_EACCES), "read-write append"},
      {0x2, "out.velt", uint32_t(-WASI_EACCES), "read-write"},
      {0x3, "out.velt", uint32_t(-WASI_EACCES), "access mode 3 is read-write"},
      {0x241, "frame.png", uint32_t(-WASI_EACCES), "writing a file that is not the output"},
  };
  make_file("frame.png", "png");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.why);
    make_file("out.velt", "old");
    output_.path = path("out.velt");
    uint32_t fd = open(path(c.name), c.flags);
    EXPECT_EQ(fd, c.result);
    if (fd != 3u) continue;
    EXPECT_EQ(close_fd(3), 0u);
    std::string error;
    if (c.flags != 0) {
      EXPECT_TRUE(output_.file.commit(&error)) << error;
      EXPECT_EQ(file_content("out.velt"), "") << "the output starts empty";
    }
  }
  EXPECT_EQ(file_content("frame.png"), "png");
}

TEST_F(FileServicesTest, SeekMovesByWhenceAndStoresTheNewPosition) {
  make_file("frame.png", "0123456789");
  ASSERT_EQ(open(path("frame.png"), 0), 3u);
  struct Case {
    int64_t offset;
    uint32_t whence;
    uint32_t result;
    uint64_t position;
    const char* why;
  };
  const Case cases[] = {
      {0, 0, 0, 0, "to the start"},
      {3, 0, 0, 3, "from the start"},
      {2, 1, 0, 5, "from the current position"},
      {-1, 2, 0, 9, "from the end"},
      {0x100000000, 0, 0, 0x100000000, "offsets and positions are 64-bit"},
      {4, 0, 0, 4, ""},
      {0, 3, WASI_EINVAL, 4, "whence 3 leaves the stream alone"},
      {-20, 0, WASI_EINVAL, 4, "the host's error, in WASI numbering"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.why);
    put_u32(RESULT_AT, 0xDEADBEEF);
    put_u32(RESULT_AT + 4, 0xDEADBEEF);
    EXPECT_EQ(seek(3, c.offset, c.whence), c.result);
    EXPECT_EQ(get_u64(RESULT_AT), c.result == 0 ? c.position : 0xDEADBEEFDEADBEEF);
    EXPECT_EQ(ftello(context_->fd_table[3]), off_t(c.position));
  }
}

TEST_F(FileServicesTest, DescriptorControlAnswersOnlyTheFirstFiveCommands) {
  const uint32_t cases[][2] = {
      {0, 0}, {1, 0}, {3, 0}, {4, 0}, {5, NEG_EINVAL}, {1030, NEG_EINVAL}, {0xFFFFFFFF, NEG_EINVAL},
  };
  for (auto& c : cases) EXPECT_EQ(Z_aZ_c(context_, 1, c[0], 0), c[1]) << "command " << c[0];
}

TEST_F(FileServicesTest, NoDescriptorIsATerminal) {
  const uint32_t cases[][3] = {
      {1, 0x5401, NEG_ENOTTY}, {2, 0x5401, NEG_ENOTTY}, {1, 0x5405, NEG_ENOTTY},
      {1, 0x5413, NEG_EINVAL}, {1, 0x5403, NEG_EINVAL}, {3, 0x5401, NEG_EINVAL},
      {0, 0x5401, NEG_EINVAL},
  };
  for (auto& c : cases)
    EXPECT_EQ(Z_aZ_g(context_, c[0], c[1], 0), c[2]) << "fd " << c[0] << " request " << c[1];
}

TEST_F(FileServicesTest, HeapGrowthAddsWholePagesUpToTheMaximum) {
  struct Case {
    uint32_t requested;
    uint32_t result;
    uint32_t pages;
    const char* why;
  };
  const Case cases[] = {
      {1024 * 65536, 1, 1024, "already that large"},
      {1000, 1, 1024, "smaller than the memory"},
      {1024 * 65536 + 1, 1, 1025, "one byte more: one page"},
      {1026 * 65536, 1, 1026, "exactly one more page"},
      {1026 * 65536 + 65537, 1, 1028, "rounded up"},
      {0x80000001, 0, 1028, "beyond 32768 pages"},
      {0xFFFFFFFF, 0, 1028, "page count would overflow"},
      {0x80000000, 1, 32768, "exactly the maximum"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.why);
    EXPECT_EQ(grow_heap(c.requested), c.result);
    EXPECT_EQ(memory_->pages, c.pages);
    EXPECT_EQ(memory_->size, uint64_t(c.pages) * 65536);
  }
}

// Module offsets and lengths that leave the memory: the call fails with 28 and
// neither the stream nor the memory changes. Offsets near 2^32 catch sums
// computed in 32 bits.
TEST_F(FileServicesTest, VectorRangesAreCheckedBeforeAnyTransfer) {
  make_file("data", std::string(64, 'x'));
  ASSERT_EQ(open(path("data"), 0), 3u);
  output_.path = path("out.velt");
  ASSERT_EQ(open(path("out.velt"), 0x241), 4u);
  const uint32_t last = end() - 8;  // room for one entry or one buffer at the end
  struct Case {
    uint32_t iovs;
    uint32_t iovs_len;
    std::vector<Entry> entries;
    uint32_t result_at;
    bool accepted;
    const char* why;
  };
  const Case cases[] = {
      {last, 1, {{BUFFERS_AT, 5}}, RESULT_AT, true, "array ends at the last byte"},
      {last, 2, {{BUFFERS_AT, 5}}, RESULT_AT, false, "array crosses the end"},
      {0xFFFFFFF8, 2, {}, RESULT_AT, false, "array offset wraps"},
      {VECTORS_AT, 0x20000001, {{BUFFERS_AT, 5}}, RESULT_AT, false, "array length wraps"},
      {VECTORS_AT, 1025, {{BUFFERS_AT, 5}}, RESULT_AT, false, "more entries than a host call takes"},
      {VECTORS_AT, 1, {{end() - 5, 5}}, RESULT_AT, true, "buffer ends at the last byte"},
      {VECTORS_AT, 1, {{end(), 0}}, RESULT_AT, true, "empty buffer at the end"},
      {VECTORS_AT, 2, {{BUFFERS_AT, 5}, {end() - 4, 5}}, RESULT_AT, false, "later buffer crosses"},
      {VECTORS_AT, 1, {{0xFFFFFFFF, 2}}, RESULT_AT, false, "buffer wraps"},
      {VECTORS_AT, 1, {{0xFFFFFFFF, 0}}, RESULT_AT, false, "empty buffer past the end"},
      {VECTORS_AT, 1, {{BUFFERS_AT, 5}}, end() - 4, true, "count ends at the last byte"},
      {VECTORS_AT, 1, {{BUFFERS_AT, 5}}, end() - 3, false, "count crosses the end"},
      {VECTORS_AT, 1, {{BUFFERS_AT, 5}}, 0xFFFFFFFE, false, "count offset wraps"},
  };
  for (const char* service : {"write", "read"}) {
    for (const Case& c : cases) {
      SCOPED_TRACE(std::string(service) + ": " + c.why);
      put_vectors(c.iovs, c.entries);
      if (c.result_at <= end() - 4) put_u32(c.result_at, 0xDEADBEEF);
      const uint32_t fd = service[0] == 'w' ? 4 : 3;
      fseeko(context_->fd_table[fd], 0, SEEK_SET);
      const std::vector<uint8_t> tail(at(end() - 64), at(end()));
      const std::vector<uint8_t> work(at(VECTORS_AT), at(BUFFERS_AT + 64));

      uint32_t result = service[0] == 'w'
                            ? write_v(fd, c.iovs, c.iovs_len, c.result_at)
                            : read_v(fd, c.iovs, c.iovs_len, c.result_at);
      if (c.accepted) {
        EXPECT_EQ(result, 0u);
        EXPECT_EQ(get_u32(c.result_at), uint64_t(ftello(context_->fd_table[fd])));
      } else {
        EXPECT_EQ(result, uint32_t(WASI_EINVAL));
        EXPECT_EQ(ftello(context_->fd_table[fd]), 0);
        EXPECT_EQ(std::vector<uint8_t>(at(end() - 64), at(end())), tail);
        EXPECT_EQ(std::vector<uint8_t>(at(VECTORS_AT), at(BUFFERS_AT + 64)), work);
        if (c.result_at <= end() - 4) {
          EXPECT_EQ(get_u32(c.result_at), 0xDEADBEEFu);
        }
      }
    }
  }
}

TEST_F(FileServicesTest, ConsoleWriteWithABadEntryPrintsNothing) {
  put(BUFFERS_AT, "hello");
  put_vectors(VECTORS_AT, {{BUFFERS_AT, 5}, {end() - 2, 3}});
  put_u32(RESULT_AT, 0xDEADBEEF);
  Capture capture(1);
  EXPECT_EQ(write_v(1, VECTORS_AT, 2, RESULT_AT), uint32_t(WASI_EINVAL));
  EXPECT_EQ(capture.text(), "");
  EXPECT_EQ(get_u32(RESULT_AT), 0xDEADBEEFu);
}

TEST_F(FileServicesTest, SeekResultMustFitInTheMemory) {
  make_file("frame.png", "0123456789");
  ASSERT_EQ(open(path("frame.png"), 0), 3u);
  ASSERT_EQ(seek(3, 4, 0), 0u);
  EXPECT_EQ(seek_at(3, 7, 0, end() - 7), uint32_t(WASI_EINVAL));
  EXPECT_EQ(seek_at(3, 7, 0, 0xFFFFFFFC), uint32_t(WASI_EINVAL));
  EXPECT_EQ(ftello(context_->fd_table[3]), 4);
  EXPECT_EQ(seek_at(3, 7, 0, end() - 8), 0u);
  EXPECT_EQ(get_u64(end() - 8), 7u);
}

TEST_F(FileServicesTest, PathMustEndInsideTheMemory) {
  const std::string name = path("frame.png");
  make_file("frame.png", "png");

  put(end() - uint32_t(name.size()), name);  // no room left for the NUL
  EXPECT_EQ(open_at(end() - uint32_t(name.size()), 0), NEG_EINVAL);
  EXPECT_EQ(open_at(end(), 0), NEG_EINVAL);
  EXPECT_EQ(open_at(0xFFFFFFFF, 0), NEG_EINVAL);
  EXPECT_EQ(context_->fd_table[3], nullptr);

  const uint32_t fits = end() - uint32_t(name.size()) - 1;
  put(fits, name + '\0');  // the NUL is the last byte
  EXPECT_EQ(open_at(fits, 0), 3u);
}

TEST_F(FileServicesTest, OpenHookHearsOfEveryOpenWithItsOutcome) {
  std::vector<std::pair<std::string, bool>> opens;
  context_->hooks.on_open = [&](const char* name, bool opened) { opens.emplace_back(name, opened); };
  make_file("frame.png", "png");
  EXPECT_EQ(open(path("frame.png"), 0), 3u);
  EXPECT_EQ(open(path("missing.png"), 0), uint32_t(-WASI_ENOENT)) << "the hook keeps the error";
  EXPECT_EQ(open_at(end(), 0), NEG_EINVAL);
  const std::vector<std::pair<std::string, bool>> expected = {{path("frame.png"), true},
                                                              {path("missing.png"), false}};
  EXPECT_EQ(opens, expected) << "a path outside the memory is refused before the hook";
}

TEST_F(FileServicesTest, ConsoleHookTakesTheModulesConsoleOutput) {
  std::string taken;
  context_->hooks.console = [&](int fd, const uint8_t* bytes, size_t size) {
    taken += std::to_string(fd) + ":" + std::string(reinterpret_cast<const char*>(bytes), size) + ";";
  };
  put(BUFFERS_AT, "hello");
  put(BUFFERS_AT + 16, " world!");
  put_vectors(VECTORS_AT, {{BUFFERS_AT, 5}, {BUFFERS_AT + 16, 7}});
  Capture out{1};
  EXPECT_EQ(write_v(1, VECTORS_AT, 2, RESULT_AT), 0u);
  EXPECT_EQ(write_v(2, VECTORS_AT, 1, RESULT_AT), 0u);
  EXPECT_EQ(out.text(), "") << "nothing reaches the host's standard output";
  EXPECT_EQ(taken, "1:hello;1: world!;2:hello;");
  EXPECT_EQ(get_u32(RESULT_AT), 5u);

  // file descriptors are not the console: their bytes still go to the file
  output_.path = path("out.velt");
  ASSERT_EQ(open(path("out.velt"), 0x241), 3u);
  ASSERT_EQ(write(3, "VELT"), 0u);
  EXPECT_EQ(close_fd(3), 0u);
  std::string error;
  ASSERT_TRUE(output_.file.commit(&error)) << error;
  EXPECT_EQ(file_content("out.velt"), "VELT");
  EXPECT_EQ(taken, "1:hello;1: world!;2:hello;");
}

}  // namespace
