// Spooling frame streams: the PNG and raw walks on whole, cut and broken
// streams, each fed from a regular file and from a pipe, and the spooled
// frames read back through the file services as the module reads them.
#include "stream_spool.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <pthread.h>
#include <signal.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "encoding_call.h"
#include "velt_instance_fixture.h"

namespace {

using Slices = std::vector<std::pair<uint64_t, uint64_t>>;

std::string be32(uint32_t value) {
  const char bytes[] = {char(value >> 24), char(value >> 16), char(value >> 8), char(value)};
  return std::string(bytes, 4);
}

const std::string kSignature("\x89PNG\r\n\x1A\n", 8);

// A chunk of `length` data bytes, with a CRC the walk does not check.
std::string chunk(const char* type, uint32_t length) {
  return be32(length) + type + std::string(length, 'd') + "CRC!";
}

// A fake image of 57 + `data` bytes: signature, IHDR, one IDAT, IEND.
std::string image(uint32_t data) {
  return kSignature + chunk("IHDR", 13) + chunk("IDAT", data) + chunk("IEND", 0);
}

// `count` images of 20 bytes, a signature and IEND each.
std::string tiny_images(size_t count) {
  std::string bytes;
  for (size_t i = 0; i < count; ++i) bytes += kSignature + chunk("IEND", 0);
  return bytes;
}

// `count` slices of `each` bytes, one after another.
Slices every(uint64_t each, size_t count) {
  Slices slices;
  for (size_t i = 0; i < count; ++i) slices.emplace_back(i * each, each);
  return slices;
}

enum class Source { REGULAR_FILE, PIPE };

// Runs `spool` on `bytes` from an unnamed regular file, or from a pipe that
// a writer thread fills in small pieces, its read end set not to block.
template <typename Spool>
SpoolResult spool_from(Source source, const std::string& bytes, Spool spool, SpooledFrames* out) {
  if (source == Source::REGULAR_FILE) {
    char name[] = "/tmp/velt_stream_XXXXXX";
    int fd = mkstemp(name);
    unlink(name);
    EXPECT_EQ(write(fd, bytes.data(), bytes.size()), ssize_t(bytes.size()));
    lseek(fd, 0, SEEK_SET);
    SpoolResult result = spool(fd, out);
    close(fd);
    return result;
  }
  int ends[2];
  EXPECT_EQ(pipe2(ends, O_CLOEXEC), 0);
  fcntl(ends[0], F_SETFL, O_NONBLOCK);
  std::thread writer([&bytes, fd = ends[1]] {
    // a spool that stops early closes the pipe: the writer hears EPIPE
    sigset_t pipe_signal;
    sigemptyset(&pipe_signal);
    sigaddset(&pipe_signal, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &pipe_signal, nullptr);
    const size_t piece = bytes.size() < 4096 ? 3 : 65536;
    for (size_t at = 0; at < bytes.size();) {
      ssize_t put = write(fd, bytes.data() + at, std::min(piece, bytes.size() - at));
      if (put < 0) break;
      at += size_t(put);
    }
    close(fd);
  });
  SpoolResult result = spool(ends[0], out);
  close(ends[0]);
  writer.join();
  return result;
}

// Checks the outcome and that each slice holds the stream's bytes there.
void expect_spooled(const SpoolResult& result, const SpooledFrames& spooled,
                    const std::string& stream, const Slices& frames, const std::string& error) {
  EXPECT_EQ(result.ok, error.empty());
  EXPECT_EQ(result.error, error);
  Slices got;
  for (const FrameSlice& f : spooled.frames) got.emplace_back(f.offset, f.length);
  ASSERT_EQ(got, frames);
  for (const FrameSlice& f : spooled.frames) {
    std::string bytes(f.length, '\0');
    ASSERT_EQ(pread(spooled.fd, bytes.data(), f.length, off_t(f.offset)), ssize_t(f.length));
    ASSERT_EQ(bytes, stream.substr(f.offset, f.length)) << "the slice at " << f.offset;
  }
}

TEST(StreamSpool, PngStreamsAreCutAtEachImagesEnd) {
  const std::string one = image(10);  // 67 bytes: IHDR's length at 8, IDAT's at 33, IEND at 55
  const std::string empty_chunks =
      kSignature + chunk("IHDR", 0) + chunk("IDAT", 0) + chunk("tEXt", 0) + chunk("IEND", 0);
  const std::string big = image(600000);  // across several reads
  const std::string in_frame_1 = "standard input ends inside frame 1 (from offset 67) after ";
  auto not_png = [](const char* offset, const char* frame) {
    return std::string("standard input: the bytes at offset ") + offset +
           " are not a PNG signature, where frame " + frame + " should start";
  };
  const std::string large = ") is larger than 256 MiB with its chunk of ";
  const uint32_t room = uint32_t(MAX_SPOOLED_FRAME_BYTES) - 33 - 12;  // fills frame 0 exactly
  struct Case {
    const char* why;
    std::string stream;
    Slices frames;
    std::string error;
  };
  const Case cases[] = {
      {"one image", one, {{0, 67}}, ""},
      {"three, one of empty chunks, one large", one + empty_chunks + big,
       {{0, 67}, {67, 56}, {123, 600057}}, ""},
      {"IEND in the data is data", kSignature + be32(8) + "IDATIENDIENDCRC!" + chunk("IEND", 0),
       {{0, 40}}, ""},
      {"cut in the signature", one + one.substr(0, 7), {{0, 67}}, in_frame_1 + "7 bytes"},
      {"cut in a length", one + one.substr(0, 10), {{0, 67}}, in_frame_1 + "10 bytes"},
      {"cut in a type", one + one.substr(0, 14), {{0, 67}}, in_frame_1 + "14 bytes"},
      {"cut in data", one + one.substr(0, 20), {{0, 67}}, in_frame_1 + "20 bytes"},
      {"cut in a CRC", one + one.substr(0, 31), {{0, 67}}, in_frame_1 + "31 bytes"},
      {"cut before IEND", one + one.substr(0, 55), {{0, 67}}, in_frame_1 + "55 bytes"},
      {"cut in IEND's CRC", one + one.substr(0, 66), {{0, 67}}, in_frame_1 + "66 bytes"},
      {"trailing bytes that begin an image", one + "\x89PN", {{0, 67}}, in_frame_1 + "3 bytes"},
      {"trailing bytes that are no image", one + "\n", {{0, 67}}, not_png("67", "1")},
      {"garbage between images", one + "junk" + one, {{0, 67}}, not_png("67", "1")},
      {"another format", "GIF89a" + one, {}, not_png("0", "0")},
      {"a signature wrong in its last byte", kSignature.substr(0, 7) + "\r" + one, {},
       not_png("0", "0")},
      {"a chunk length of 2^31", one + kSignature + chunk("IHDR", 13) + be32(0x80000000) + "IDAT",
       {{0, 67}},
       "standard input: frame 1 has a chunk length of 2147483648 at offset 100, above 2^31-1"},
      {"a chunk of 2^31-1 bytes is larger than a frame may be",
       kSignature + chunk("IHDR", 13) + be32(0x7FFFFFFF) + "IDAT", {},
       "standard input: frame 0 (from offset 0" + large + "2147483647 bytes at offset 33"},
      {"a chunk that fills the largest frame", kSignature + chunk("IHDR", 13) + be32(room) + "IDAT",
       {}, "standard input ends inside frame 0 (from offset 0) after 41 bytes"},
      {"one byte more", kSignature + chunk("IHDR", 13) + be32(room + 1) + "IDAT", {},
       "standard input: frame 0 (from offset 0" + large + std::to_string(room + 1) +
           " bytes at offset 33"},
      {"an empty stream", "", {}, "standard input holds no frames"},
      {"65535 images", tiny_images(65535), every(20, 65535), ""},
      {"65536 images", tiny_images(65536), every(20, 65535),
       "standard input holds more than 65535 frames, all a VELT file can count "
       "(frame 65535 starts at offset 1310700)"},
  };
  for (Source source : {Source::REGULAR_FILE, Source::PIPE}) {
    for (const Case& c : cases) {
      SCOPED_TRACE(std::string(source == Source::PIPE ? "pipe: " : "file: ") + c.why);
      SpooledFrames spooled;
      SpoolResult result = spool_from(source, c.stream, spool_png_stream, &spooled);
      expect_spooled(result, spooled, c.stream, c.frames, c.error);
    }
  }
}

TEST(StreamSpool, RawStreamsAreCutEveryFrameSize) {
  struct Case {
    const char* why;
    uint32_t width, height;
    size_t bytes;
    Slices frames;
    std::string error;
  };
  const Case cases[] = {
      {"three whole frames", 2, 2, 48, every(16, 3), ""},
      {"a partial last frame", 2, 2, 53, every(16, 3),
       "standard input ends inside frame 3 (from offset 48) after 5 of its 16 bytes"},
      {"frames larger than a read", 300, 300, 720000, every(360000, 2), ""},
      {"an empty stream", 2, 2, 0, {}, "standard input holds no frames"},
      {"65535 frames", 1, 1, 65535 * 4, every(4, 65535), ""},
      {"65536 frames", 1, 1, 65536 * 4, every(4, 65535),
       "standard input holds more than 65535 frames, all a VELT file can count "
       "(frame 65535 starts at offset 262140)"},
      {"no width", 0, 5, 16, {}, "standard input: raw frames of 0x5 pixels hold no bytes"},
      {"the largest frame", 8192, 8192, 0, {}, "standard input holds no frames"},
      {"a frame larger", 8193, 8192, 16, {},
       "standard input: raw frames of 8193x8192 pixels are larger than 256 MiB"},
      {"a size whose bytes overflow 64 bits", 0xFFFFFFFF, 0xFFFFFFFF, 16, {},
       "standard input: raw frames of 4294967295x4294967295 pixels are larger than 256 MiB"},
  };
  for (Source source : {Source::REGULAR_FILE, Source::PIPE}) {
    for (const Case& c : cases) {
      SCOPED_TRACE(std::string(source == Source::PIPE ? "pipe: " : "file: ") + c.why);
      std::string stream(c.bytes, '\0');
      for (size_t i = 0; i < c.bytes; ++i) stream[i] = char(i % 251);
      auto spool = [&c](int fd, SpooledFrames* out) {
        return spool_raw_stream(fd, c.width, c.height, out);
      };
      SpooledFrames spooled;
      SpoolResult result = spool_from(source, stream, spool, &spooled);
      expect_spooled(result, spooled, stream, c.frames, c.error);
    }
  }
}

TEST(StreamSpool, ReadAndSpoolFileFailuresAreNamed) {
  SpooledFrames spooled;
  int directory = open("/tmp", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  EXPECT_EQ(spool_png_stream(directory, &spooled).error,
            "cannot read standard input at offset 0: Is a directory");
  close(directory);
  const char* tmpdir = getenv("TMPDIR");
  const std::string kept = tmpdir ? tmpdir : "";
  setenv("TMPDIR", "/nonexistent", 1);
  EXPECT_EQ(spool_png_stream(STDIN_FILENO, &spooled).error,
            "cannot make a spool file for standard input in /nonexistent: "
            "No such file or directory");
  tmpdir ? setenv("TMPDIR", kept.c_str(), 1) : unsetenv("TMPDIR");
}

// The module sizes a frame by seeking to its end, then reads it whole; a part
// reads only its window of frames.
class SpooledFrameReadTest : public VeltInstanceTest {
 protected:
  static constexpr uint32_t PATH_AT = 0x100000, VECTOR_AT = 0x101000, RESULT_AT = 0x102000,
                            BUFFER_AT = 0x110000;

  uint32_t open_frame(const std::string& name) {
    memcpy(memory_->data + PATH_AT, name.c_str(), name.size() + 1);
    return Z_aZ_h(context_, 0, PATH_AT, 0, 0);
  }
  // The new position, or -1 when the seek failed.
  int64_t seek(uint32_t fd, int64_t offset, uint32_t whence) {
    if (Z_aZ_e(context_, fd, uint64_t(offset), whence, RESULT_AT) != 0) return -1;
    int64_t position;
    memcpy(&position, memory_->data + RESULT_AT, 8);
    return position;
  }
  // Up to `length` bytes from the stream's position.
  std::string read(uint32_t fd, uint32_t length) {
    const uint32_t vector[2] = {BUFFER_AT, length};
    memcpy(memory_->data + VECTOR_AT, vector, sizeof vector);
    EXPECT_EQ(Z_aZ_f(context_, fd, VECTOR_AT, 1, RESULT_AT), 0u);
    uint32_t got;
    memcpy(&got, memory_->data + RESULT_AT, 4);
    return std::string(reinterpret_cast<char*>(memory_->data + BUFFER_AT), got);
  }
};

TEST_F(SpooledFrameReadTest, EachFrameReadsAsAFileOfItsSliceAlone) {
  const std::string images[] = {image(10), image(3000), image(20), image(5)};
  std::string stream;
  for (const std::string& i : images) stream += i;
  SpooledFrames spooled;
  ASSERT_TRUE(spool_from(Source::REGULAR_FILE, stream, spool_png_stream, &spooled).ok);
  const EncodingRequest::PartRange part{3, 4, true};  // reads frames 0, 2 and 3
  context_->grants.readable = spooled_frame_grants(spooled, &part).readable;

  struct Case {
    const char* name;
    int32_t result;  // the descriptor, or the negated error
    const std::string* bytes;
  };
  const Case cases[] = {
      {"frame_0.png", 3, &images[0]},
      {"frame_1.png", -WASI_EACCES, nullptr},  // outside the part's window
      {"frame_2.png", 3, &images[2]},          // in the middle of the file
      {"frame_3.png", 3, &images[3]},          // the file's last bytes
      {"frame_4.png", -WASI_ENOENT, nullptr},  // just past the last: the end
      {"frame_5.png", -WASI_EACCES, nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const uint32_t fd = open_frame(c.name);
    ASSERT_EQ(int32_t(fd), c.result);
    if (!c.bytes) continue;
    const int64_t size = int64_t(c.bytes->size());
    EXPECT_EQ(seek(fd, 0, 2), size) << "the slice's end is the file's";
    EXPECT_EQ(seek(fd, 0, 1), size);
    EXPECT_EQ(seek(fd, 0, 0), 0);
    EXPECT_EQ(read(fd, uint32_t(size) + 100), *c.bytes) << "nothing past the slice";
    EXPECT_EQ(read(fd, 100), "");
    EXPECT_EQ(seek(fd, -5, 2), size - 5);
    EXPECT_EQ(read(fd, 100), c.bytes->substr(size_t(size) - 5));
    EXPECT_EQ(seek(fd, 1000, 2), size + 1000);
    EXPECT_EQ(read(fd, 100), "") << "past the end";
    EXPECT_EQ(seek(fd, -1, 0), -1);
    EXPECT_EQ(seek(fd, 0, 1), size + 1000) << "a refused seek stays";
    EXPECT_EQ(Z_aZ_a(context_, fd), 0u);
  }

  // two streams on one file keep their own positions, whatever the file's own
  lseek(spooled.fd, 7, SEEK_SET);
  ASSERT_EQ(open_frame("frame_0.png"), 3u);
  ASSERT_EQ(open_frame("frame_2.png"), 4u);
  EXPECT_EQ(read(3, 5), images[0].substr(0, 5));
  EXPECT_EQ(read(4, 100), images[2].substr(0, 77));
  EXPECT_EQ(read(3, 100), images[0].substr(5));
}

}  // namespace
