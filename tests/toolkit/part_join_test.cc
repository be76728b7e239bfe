// velt join against parts that are damaged or crafted: each is refused at
// the part, in one line, before anything takes the output's place. It joins
// more parts than it may hold open, and shows a part's reason escaped.
#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <functional>

#include "e2e_support.h"
#include "part_join.h"
#include "printable_text.h"
#include "velt_encoder.h"
#include "velt_program.h"

namespace {

using e2e::Bytes;
using e2e::Image;
using e2e::read_file;
using e2e::TempDir;
using toolkit_test::list_directory;
using toolkit_test::run_velt;

// Frames `side` pixels square, each with a block of its own colour.
std::string write_frames(const TempDir& dir, int count, unsigned side) {
  std::vector<Image> frames;
  for (int f = 0; f < count; ++f) {
    Image image(side, side, e2e::kWhite);
    image.fill_block(unsigned(f) % (side / 4), 0, {uint8_t(7 * f), uint8_t(f / 37), 200, 255});
    frames.push_back(image);
  }
  return e2e::write_sequence(dir, "f", frames);
}

// The encoder's own code, built natively, runs in this process: far quicker
// than a run of the program for each of many parts, and the same bytes. Its
// console lines are dropped while an object of this lives.
class NativeEncoder {
 public:
  NativeEncoder() {
    fflush(stdout);
    saved_ = dup(STDOUT_FILENO);
    int null = open("/dev/null", O_WRONLY | O_CLOEXEC);
    dup2(null, STDOUT_FILENO);
    close(null);
  }
  ~NativeEncoder() {
    fflush(stdout);
    dup2(saved_, STDOUT_FILENO);
    close(saved_);
  }
  // Writes part `index` of `count` of the `frame_count` frames of `pattern`.
  std::string part(const std::string& pattern, const std::string& path, int index, int count,
                   int frame_count) {
    PartSplit split = split_frames(frame_count, index, count);
    EXPECT_EQ(encode_part(pattern.c_str(), path.c_str(), 0, 20, split.first, split.end,
                          split.closing ? 1 : 0),
              VELT_OK);
    return path;
  }

 private:
  int saved_;
};

void put32(Bytes& part, int offset, uint32_t value) {
  velt_part_put32(part.data() + offset, value);
}

// Gives the part the hash its bytes need, as a crafted part would carry.
void set_hash(Bytes& part) {
  uint64_t payload = velt_part_hash(VELT_PART_HASH_START, part.data() + VELT_PART_HEADER_SIZE,
                                    part.size() - VELT_PART_HEADER_SIZE);
  velt_part_put64(part.data() + VELT_PART_OFFSET_HASH, velt_part_file_hash(payload, part.data()));
}

TEST(PartJoin, RefusesEachDamagedOrCraftedPartAndLeavesTheOutputAsItWas) {
  TempDir dir;
  const std::string input = write_frames(dir, 12, 8);
  std::vector<Bytes> good;
  {
    NativeEncoder encoder;
    for (int k = 0; k < 3; ++k)
      good.push_back(read_file(encoder.part(input, dir.file("p"), k, 3, 12)));
  }
  remove(dir.file("p").c_str());
  const uint64_t kFourGiB = uint64_t(1) << 32;
  auto records = [&](int k) { return good[size_t(k)].size() - VELT_PART_HEADER_SIZE; };

  struct Case {
    const char* what;
    int part;  // which of the three parts (frames 0-3, 4-7, 8-11) is spoiled
    std::function<void(Bytes&)> spoil;
    bool crafted;             // its hash made to match its bytes
    uint64_t sparse_payload;  // the file made to hold this many bytes of records, sparse; 0: not
    std::string message;      // after the part's path
  };
  const std::string kHash = ": a damaged part file: its records and header do not match its hash";
  const Case cases[] = {
      {"the closing flag of a middle part", 1,
       [](Bytes& b) { put32(b, VELT_PART_OFFSET_CLOSING, 1); }, false, 0, kHash},
      {"another end in the last part", 2, [](Bytes& b) { put32(b, VELT_PART_OFFSET_END, 11); },
       false, 0, kHash},
      {"another first frame", 1, [](Bytes& b) { put32(b, VELT_PART_OFFSET_FIRST, 3); }, false, 0,
       kHash},
      {"a failure at the end", 2,
       [](Bytes& b) {
         put32(b, VELT_PART_OFFSET_RESULT, VELT_ERR_DECODE_FRAME);
         put32(b, VELT_PART_OFFSET_FAILING, 12);
       },
       false, 0, kHash},
      {"another mode", 1, [](Bytes& b) { put32(b, VELT_PART_OFFSET_MODE, 2); }, false, 0, kHash},
      {"another width", 1,
       [](Bytes& b) { b[VELT_PART_OFFSET_HEADER + VELT_OFFSET_WIDTH_CODE] = 3; }, false, 0, kHash},
      {"a frame count in the file's header", 1,
       [](Bytes& b) { b[VELT_PART_OFFSET_HEADER + VELT_OFFSET_FRAME_COUNT + 1] = 4; }, false, 0,
       ": a damaged part file: its header does not hold together"},
      {"a record's bit flipped", 1, [](Bytes& b) { b.back() ^= 1; }, false, 0, kHash},
      {"a part of version 1", 0, [](Bytes& b) { put32(b, VELT_PART_OFFSET_VERSION, 1); }, false, 0,
       ": a part file of another version"},
      {"cut short", 2, [](Bytes& b) { b.resize(b.size() - 3); }, false, 0,
       ": a damaged part file: it holds " + std::to_string(records(2) - 3) +
           " bytes of records, not the " + std::to_string(records(2)) + " its header gives"},
      {"a sparse 4 GiB of records", 1,
       [&](Bytes& b) { velt_part_put64(b.data() + VELT_PART_OFFSET_PAYLOAD_SIZE, kFourGiB); },
       false, kFourGiB,
       ": a damaged part file: its header gives 4294967296 bytes of records, more than the "
       "records of its frames can take"},
      {"crafted: no frame at all", 0,
       [](Bytes& b) {
         b.resize(VELT_PART_HEADER_SIZE);
         put32(b, VELT_PART_OFFSET_END, 0);
         put32(b, VELT_PART_OFFSET_CLOSING, 1);
         velt_part_put64(b.data() + VELT_PART_OFFSET_LAST_HASH, 0);
         velt_part_put64(b.data() + VELT_PART_OFFSET_PAYLOAD_SIZE, 0);
       },
       true, 0, " ends the animation before frame 0: it would hold no frame"},
      {"crafted: a middle part that claims the closing record", 1,
       [](Bytes& b) { put32(b, VELT_PART_OFFSET_CLOSING, 1); }, true, 0,
       ": its records do not make a valid file: file ends before frame record 9; frame count 9 "
       "needs 10 frame records (at byte " +
           std::to_string(VELT_HEADER_SIZE + records(0) + records(1)) + " of the joined file)"},
      {"crafted: a padding bit in a change map", 1,
       [](Bytes& b) { b[VELT_PART_HEADER_SIZE] |= 1; }, true, 0,
       ": its records do not make a valid file: padding bits of the change map of frame record "
       "4 are set"},
  };
  const std::string out = dir.file("out.velt");
  const Bytes old = {'o', 'l', 'd'};
  e2e::write_file(out, old);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::vector<std::string> args = {"join", out};
    for (int k = 0; k < 3; ++k) {
      Bytes bytes = good[size_t(k)];
      if (k == c.part) {
        c.spoil(bytes);
        if (c.crafted) set_hash(bytes);
      }
      args.push_back(dir.file("part" + std::to_string(k)));
      e2e::write_file(args.back(), bytes);
      if (k == c.part && c.sparse_payload > 0) {
        const off_t size = off_t(VELT_PART_HEADER_SIZE + c.sparse_payload);
        ASSERT_EQ(truncate(args.back().c_str(), size), 0);
      }
    }
    const std::vector<std::string> before = list_directory(dir.path());
    auto start = std::chrono::steady_clock::now();
    e2e::RunResult run = run_velt(args);
    std::chrono::duration<double> seconds = std::chrono::steady_clock::now() - start;
    EXPECT_EQ(run.exit_status, 1);
    const std::string expected = "velt: join: " + args[size_t(2 + c.part)] + c.message;
    EXPECT_EQ(run.err.substr(0, expected.size()), expected);
    EXPECT_TRUE(e2e::ends_with(run.err, "\n") && run.err.find('\n') == run.err.size() - 1)
        << run.err;
    EXPECT_EQ(read_file(out), old);
    EXPECT_EQ(list_directory(dir.path()), before);
    EXPECT_LT(seconds.count(), 5.0) << "a sparse 4 GiB part is refused without reading it";
  }
}

// Every part is open only while it is read: 1,100 parts join under a limit
// of 1,024 open files, into the single run's bytes.
TEST(PartJoin, JoinsMorePartsThanItMayHoldOpen) {
  TempDir dir;
  const int kParts = 1100;
  const std::string input = write_frames(dir, kParts, 4);
  std::vector<std::string> args = {"join", dir.file("joined.velt")};
  {
    NativeEncoder encoder;
    for (int k = 0; k < kParts; ++k)
      args.push_back(encoder.part(input, dir.file("p" + std::to_string(k)), k, kParts, kParts));
    ASSERT_EQ(compress_video_wasm(input.c_str(), dir.file("single.velt").c_str(), 0, 20), VELT_OK);
  }
  e2e::RunResult run = toolkit_test::run_velt_with_limit(args, RLIMIT_NOFILE, 1024);
  EXPECT_EQ(run.exit_status, 0) << run.err;
  EXPECT_TRUE(
      e2e::same_bytes(read_file(dir.file("joined.velt")), read_file(dir.file("single.velt"))));
}

// An output written in place (standard output, a pipe here) receives the
// joined file only once it has passed the read-back, and nothing otherwise.
TEST(PartJoin, WritesAnOutputInPlaceOnlyOnceTheFileIsChecked) {
  TempDir dir;
  const std::string input = write_frames(dir, 8, 8);
  const std::string first = dir.file("first"), last = dir.file("last"), bad = dir.file("bad");
  {
    NativeEncoder encoder;
    encoder.part(input, first, 0, 2, 8);
    encoder.part(input, last, 1, 2, 8);
    ASSERT_EQ(compress_video_wasm(input.c_str(), dir.file("single.velt").c_str(), 0, 20), VELT_OK);
  }
  Bytes crafted = read_file(last);
  crafted[VELT_PART_HEADER_SIZE] |= 1;  // a padding bit of a change map
  set_hash(crafted);
  e2e::write_file(bad, crafted);
  const Bytes single = read_file(dir.file("single.velt"));

  e2e::RunResult good = run_velt({"join", "/dev/stdout", first, last});
  EXPECT_EQ(good.exit_status, 0) << good.err;
  EXPECT_TRUE(e2e::same_bytes(Bytes(good.out.begin(), good.out.end()), single));
  e2e::RunResult refused = run_velt({"join", "/dev/stdout", first, bad});
  EXPECT_EQ(refused.exit_status, 1);
  EXPECT_NE(refused.err.find(bad + ": its records do not make a valid file"), std::string::npos)
      << refused.err;
  EXPECT_EQ(refused.out, "");
}

// A part's reason is text from a file, and a path may hold any byte:
// printed, neither can break the line or drive the terminal.
TEST(PartJoin, ShowsTextFromOutsideEscaped) {
  struct Case {
    std::string text, shown;
  };
  const Case cases[] = {
      {"plain text: 12x8", "plain text: 12x8"},
      {"two\nlines\r\tand a back\\slash", "two\\nlines\\r\\tand a back\\\\slash"},
      {"\x1b[31mred\x7f", "\\x1b[31mred\\x7f"},
      {"UTF-8 \xc3\xa9t\xc3\xa9 \xe2\x86\x92 \xf0\x9f\x8e\x9e",
       "UTF-8 \xc3\xa9t\xc3\xa9 \xe2\x86\x92 \xf0\x9f\x8e\x9e"},
      {"C1 \xc2\x9b and a reversal \xe2\x80\xae", "C1 \\xc2\\x9b and a reversal \\xe2\\x80\\xae"},
      {"stray \xff, overlong \xc0\xaf, surrogate \xed\xa0\x80, cut \xe2\x86",
       "stray \\xff, overlong \\xc0\\xaf, surrogate \\xed\\xa0\\x80, cut \\xe2\\x86"},
  };
  for (const Case& c : cases) EXPECT_EQ(printable_text(c.text), c.shown);

  // a part that ends the frames at a failure, its reason crafted
  TempDir dir;
  const std::string input = write_frames(dir, 8, 8);
  const std::string out = dir.file("out.velt");
  const std::string last_path = dir.file("last\npart");
  {
    NativeEncoder encoder;
    encoder.part(input, dir.file("first"), 0, 2, 8);
    encoder.part(input, last_path, 1, 2, 8);
  }
  Bytes last = read_file(last_path);
  put32(last, VELT_PART_OFFSET_RESULT, VELT_ERR_DECODE_FRAME);
  put32(last, VELT_PART_OFFSET_FAILING, 8);
  std::memcpy(last.data() + VELT_PART_OFFSET_REASON, "bad\n\x1b[2J", 8);
  set_hash(last);
  e2e::write_file(last_path, last);
  e2e::RunResult run = run_velt({"join", out, dir.file("first"), last_path});
  EXPECT_EQ(run.exit_status, 1);
  EXPECT_EQ(run.err, "velt: join: " + out + " ends before frame 8, which failed when " +
                         dir.path() + "/last\\npart was encoded: cannot decode frame number 8: " +
                         "bad\\n\\x1b[2J\n");
}

}  // namespace
