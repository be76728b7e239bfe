// Encoding on several cores and in parts: every way of splitting a sequence
// gives the single run's bytes, exit status and message, also when a frame
// fails; joining refuses parts that do not make one file; an interrupt leaves
// neither workers nor files behind.
#include <signal.h>
#include <sys/stat.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "e2e_support.h"
#include "encoder_failure.h"
#include "encoding_call.h"
#include "frame_pattern.h"
#include "kernel_layers.h"
#include "parallel_encode.h"
#include "part_join.h"
#include "velt_encoder.h"
#include "velt_program.h"
#include "when_opened.h"

namespace {

using e2e::Bytes;
using e2e::Image;
using e2e::read_file;
using e2e::TempDir;
using toolkit_test::list_directory;
using toolkit_test::run_velt;

const char* const kModes[] = {"opaque", "alpha", "opaque12", "alpha12"};

// Frames whose blocks change from frame to frame, with half-transparent
// pixels and several colours a block, so that every mode writes other records.
Image varied_frame(unsigned f, unsigned width = 8, unsigned height = 8) {
  Image image(width, height, e2e::kWhite);
  for (unsigned y = 0; y < height; ++y)
    for (unsigned x = 0; x < width; ++x)
      if ((x + y + f) % 3 == 0)
        image.set(x, y, {uint8_t(20 * f), uint8_t(255 - 9 * x), uint8_t(30 * y), uint8_t(60 + 16 * f)});
  if (width >= 8) image.fill_block(f % 2, 1, {uint8_t(10 * f), 0, 200, 255});
  return image;
}

std::string write_frames(const TempDir& dir, int count) {
  std::vector<Image> frames;
  for (int f = 0; f < count; ++f) frames.push_back(varied_frame(unsigned(f)));
  return e2e::write_sequence(dir, "f", frames);
}

std::string frame_path(const TempDir& dir, int n) { return dir.file("f_" + std::to_string(n) + ".png"); }

// Encodes `input` in parts K/N of `count`, then joins them in reverse order.
e2e::RunResult encode_in_parts(const TempDir& dir, const std::string& input, const std::string& mode,
                               int count, const std::string& out) {
  std::vector<std::string> join = {"join", out};
  for (int k = count - 1; k >= 0; --k) {
    std::string part = dir.file("part" + std::to_string(k));
    e2e::RunResult run = run_velt({"encode", input, part, "--part", std::to_string(k) + "/" +
                                   std::to_string(count), "--mode", mode});
    if (e2e::file_exists(part)) join.push_back(part);
  }
  e2e::RunResult joined = run_velt(join);
  for (int k = 0; k < count; ++k) remove(dir.file("part" + std::to_string(k)).c_str());
  return joined;
}

// The same sequence spoiled in a way that stops a run at a frame.
struct Spoil {
  const char* what;
  int frame;                                 // -1: none
  void (*apply)(const TempDir& dir, int n);  // spoils frame n
};

const Spoil kSpoils[] = {
    {"nothing", -1, nullptr},
    {"frame 5 is no PNG", 5, [](const TempDir& d, int n) { e2e::write_file(frame_path(d, n), {'n', 'o'}); }},
    {"frame 7 has another size", 7,
     [](const TempDir& d, int n) { e2e::write_png(frame_path(d, n), varied_frame(7, 12, 8)); }},
    {"frame 3 is not a multiple of 4", 3,
     [](const TempDir& d, int n) { e2e::write_png(frame_path(d, n), varied_frame(3, 6, 8)); }},
    {"frame 9 is a directory", 9,
     [](const TempDir& d, int n) {
       remove(frame_path(d, n).c_str());
       mkdir(frame_path(d, n).c_str(), 0755);
     }},
    {"frame 0 is no PNG", 0, [](const TempDir& d, int n) { e2e::write_file(frame_path(d, n), {'n'}); }},
    {"frame 6 is missing", 6, [](const TempDir& d, int n) { remove(frame_path(d, n).c_str()); }},
};

TEST(ParallelEncode, EverySplitWritesTheSingleRunsFileAndReport) {
  for (const Spoil& spoil : kSpoils) {
    TempDir dir;
    const std::string input = write_frames(dir, 12);
    if (spoil.apply) spoil.apply(dir, spoil.frame);
    for (const char* mode : kModes) {
      SCOPED_TRACE(std::string(spoil.what) + ", mode " + mode);
      const std::string single_out = dir.file("single.velt");
      e2e::write_file(single_out, {'o', 'l', 'd'});
      e2e::RunResult single = run_velt({"encode", input, single_out, "--mode", mode, "--jobs", "1"});
      const Bytes expected = read_file(single_out);
      if (spoil.frame < 0) {
        ASSERT_EQ(single.exit_status, 0) << single.err;
      }

      for (const char* jobs : {"2", "5", "40"}) {
        SCOPED_TRACE(std::string("--jobs ") + jobs);
        const std::string out = dir.file("jobs.velt");
        e2e::write_file(out, {'o', 'l', 'd'});
        e2e::RunResult run = run_velt({"encode", input, out, "--mode", mode, "--jobs", jobs});
        EXPECT_EQ(run.exit_status, single.exit_status);
        EXPECT_EQ(run.err, single.err);
        EXPECT_TRUE(e2e::same_bytes(read_file(out), expected));
      }
      // the join does not look into records: two modes are enough for it
      const bool join_too = mode == kModes[0] || mode == kModes[3];
      for (int parts : {4, 13}) {
        if (!join_too) break;
        SCOPED_TRACE("parts " + std::to_string(parts));
        const std::string out = dir.file("joined.velt");
        remove(out.c_str());
        e2e::RunResult joined = encode_in_parts(dir, input, mode, parts, out);
        if (expected == Bytes{'o', 'l', 'd'}) {
          EXPECT_NE(joined.exit_status, 0) << "no part holds frame 0";
          EXPECT_FALSE(e2e::file_exists(out));
        } else {
          EXPECT_EQ(joined.exit_status, single.exit_status) << joined.err;
          EXPECT_TRUE(e2e::same_bytes(read_file(out), expected));
        }
      }
      for (const std::string& name : list_directory(dir.path()))
        EXPECT_TRUE(name[0] != '.' && name.rfind("part", 0) != 0) << name << " is left";
    }
  }
}

TEST(ParallelEncode, JoinRefusesPartsThatDoNotMakeOneFile) {
  TempDir dir, other_dir;
  const std::string input = write_frames(dir, 12);
  // the same frame 0 and size, other frames after it
  std::vector<Image> other;
  for (unsigned f = 0; f < 12; ++f) other.push_back(varied_frame(f == 0 ? 0 : f + 20));
  const std::string other_input = e2e::write_sequence(other_dir, "g", other);
  auto part = [&](const std::string& name, const std::string& in, const std::string& k_of_n,
                  const std::string& mode = "opaque", const std::string& tolerance = "0") {
    std::string path = dir.file(name);
    e2e::RunResult run =
        run_velt({"encode", in, path, "--part", k_of_n, "--mode", mode, "--tolerance", tolerance});
    EXPECT_EQ(run.exit_status, 0) << run.err;
    return path;
  };
  const std::string p0 = part("p0", input, "0/3"), p1 = part("p1", input, "1/3"),
                    p2 = part("p2", input, "2/3");
  const std::string alpha1 = part("alpha1", input, "1/3", "alpha");
  const std::string tolerant1 = part("tolerant1", input, "1/3", "opaque", "4");
  // with a tolerance, part 1 is measured against references that frames 0-3
  // leave: another frame 2 under it is another sequence
  const std::string tolerant0 = part("tolerant0", input, "0/3", "opaque", "4");
  const std::string tolerant2 = part("tolerant2", input, "2/3", "opaque", "4");
  std::vector<Image> two;
  for (unsigned f = 0; f < 12; ++f) two.push_back(varied_frame(f == 2 ? 40 : f));
  const std::string two1 =
      part("two1", e2e::write_sequence(other_dir, "t", two), "1/3", "opaque", "4");
  const std::string other1 = part("other1", other_input, "1/3");
  const std::string other2 = part("other2", other_input, "2/3");
  const std::string shifted = part("shifted", input, "1/4");
  // the same frames but frame 0
  std::vector<Image> zero = {varied_frame(30)};
  for (unsigned f = 1; f < 12; ++f) zero.push_back(varied_frame(f));
  const std::string zero2 = part("zero2", e2e::write_sequence(other_dir, "z", zero), "2/3");
  Bytes damaged = read_file(p1);
  damaged.back() ^= 1;
  e2e::write_file(dir.file("damaged"), damaged);
  Bytes cut = read_file(p2);
  cut.resize(cut.size() - 3);
  e2e::write_file(dir.file("cut"), cut);
  e2e::write_file(dir.file("text"), {'h', 'e', 'l', 'l', 'o'});

  struct Case {
    std::vector<std::string> parts;
    std::string message;
  };
  const Case cases[] = {
      {{p0, p2}, "no part holds frame 4"},
      {{p0, p1}, "no part holds frame 9 or ends the animation"},
      {{p1, p2}, "no part holds frame 0"},
      {{p0, p1, p1, p2}, "holds frames 4-8, which"},
      {{p0, shifted, p2}, "shifted holds frames 3-6, which"},
      {{p0, alpha1, p2}, "belongs to another sequence"},
      {{tolerant0, two1, tolerant2},
       "one of frames 0-3 is another picture in " + two1 + " than in " + tolerant0},
      {{p0, tolerant1, p2},
       "belongs to another sequence than " + p0 + " (another size, mode, rate or tolerance)"},
      {{p0, other1, p2}, "frame 3 is another picture in " + other1 + " than in " + p0},
      {{p0, p1, other2}, "frame 8 is another picture in " + other2 + " than in " + p1},
      {{p0, p1, zero2}, "frame 0 is another picture in " + zero2 + " than in " + p0},
      {{p0, dir.file("damaged"), p2}, "damaged: a damaged part file: its records and header do not"},
      {{p0, p1, dir.file("cut")}, "cut: a damaged part file: it holds"},
      {{p0, dir.file("text"), p2}, "text: not a part file"},
      {{p0, p1, dir.file("none")}, "none: No such file or directory"},
  };
  const std::string out = dir.file("out.velt");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.message);
    std::vector<std::string> args = {"join", out};
    args.insert(args.end(), c.parts.begin(), c.parts.end());
    e2e::RunResult run = run_velt(args);
    EXPECT_EQ(run.exit_status, 1);
    EXPECT_NE(run.err.find(c.message), std::string::npos) << run.err;
    EXPECT_FALSE(e2e::file_exists(out));
  }
  e2e::RunResult joined = run_velt({"join", out, p2, p0, p1});
  EXPECT_EQ(joined.exit_status, 0) << joined.err;
  e2e::RunResult single = run_velt({"encode", input, dir.file("single.velt"), "--jobs", "1"});
  EXPECT_TRUE(e2e::same_bytes(read_file(out), read_file(dir.file("single.velt"))));
}

// A frame replaced during the run, read as one picture by the worker that
// ends at it and as another by the worker that starts after it, fails the
// run at that frame, and the output stays as it was; where the kernel's
// sandbox refuses the new file to the worker that reads it second, the run
// fails there as at a frame that cannot be read. The opens time it: the
// second worker has read frame 5 when it opens frame 6, where frame 5 is
// replaced; the first worker waits at frame 4 until then.
TEST(ParallelEncode, AFrameChangedAtAWorkerBoundaryFailsTheRunAtThatFrame) {
  TempDir dir;
  write_frames(dir, 12);
  std::vector<std::string> frames;
  for (int n = 0; n < 12; ++n) frames.push_back(frame_path(dir, n));
  e2e::write_png(dir.file("next.png"), varied_frame(30));
  const std::string output = dir.file("o.velt");
  const Bytes old = {'o', 'l', 'd'};
  e2e::write_file(output, old);

  auto opened_name = [](int n) { return expand_x_pattern(kListedFramePattern, n); };
  toolkit_test::WhenOpened replace(opened_name(6), [&] {
    EXPECT_EQ(rename(dir.file("next.png").c_str(), frames[5].c_str()), 0);
  });
  toolkit_test::WhenOpened hold(opened_name(4), [&] { EXPECT_TRUE(replace.wait_done(60)); });
  ParallelRequest request{&frames, "", output, 20, 0, 2, nullptr};
  request.worker_opened = [&](const char* path, bool) {
    replace.opened(path);
    hold.opened(path);
  };
  std::string failure;
  EncodingOutcome outcome = encode_in_workers(request, &failure);
  EXPECT_EQ(failure, "");
  const std::string message =
      encoder_failure_message(outcome, output, [&](int32_t n) { return frames[size_t(n)]; });
  if (landlock_abi() > 0 && outcome.result == uint32_t(VELT_ERR_READ_FRAME)) {
    // the first worker's sandbox, made before the replacement, refuses the
    // new file: a frame that cannot be read, which keeps the frames before it
    // as a single run does (a worker that confines itself only after the
    // replacement reads the new picture, and the run fails as below)
    EXPECT_EQ(outcome.result, uint32_t(VELT_ERR_READ_FRAME));
    EXPECT_TRUE(outcome.output_kept);
    EXPECT_EQ(message, "cannot read frame " + frames[5] + ": replaced since the run began");
  } else {
    EXPECT_EQ(outcome.result, uint32_t(VELT_ERR_FRAME_CHANGED));
    EXPECT_FALSE(outcome.output_kept);
    EXPECT_EQ(message, "frame " + frames[5] +
                           " changed during the run: the workers on either side of it read "
                           "different pictures");
    EXPECT_EQ(read_file(output), old);
  }
  EXPECT_EQ(list_directory(dir.path()).size(), 13u) << "the frames and the output alone";
}

// Contiguous ranges, cut at k (frames + 2) / parts (frame 0 counting as two
// frames, the closing record and each later part's frames read before its
// range as more); with a tolerance, a part starts after a refresh frame when
// one is within a quarter of a part of that cut.
TEST(ParallelEncode, SplitsFramesIntoRangesOfAboutEqualWork) {
  for (int32_t tolerance : {0, 4})
    for (int32_t frames : {1, 2, 7, 12, 24, 120, 65535})
      for (int32_t parts : {1, 2, 3, 7, 16, 100}) {
        int32_t next = 0, middle = (frames + 2) / parts, slack = tolerance ? frames / parts / 4 : 0;
        for (int32_t k = 0; k < parts; ++k) {
          PartSplit s = split_frames(frames, k, parts, tolerance);
          EXPECT_EQ(s.first, next);
          EXPECT_LE(s.end - s.first, middle + 1 + 2 * slack);
          if (k > 0 && k < parts - 1 && s.end < frames) {
            EXPECT_GE(s.end - s.first, middle - 2 * slack);
          }
          EXPECT_EQ(s.closing, k == parts - 1);
          next = s.end;
        }
        EXPECT_EQ(next, frames);
      }
  struct Cut {
    int32_t frames, parts, tolerance;
    std::vector<int32_t> firsts;  // of every part, and the end
  };
  const Cut cuts[] = {
      {24, 2, 0, {0, 13, 24}},
      {120, 2, 0, {0, 61, 120}},
      {120, 2, 4, {0, 65, 120}},  // after refresh frame 64
      {24, 2, 4, {0, 13, 24}},    // no refresh frame near
      {24, 3, 0, {0, 8, 17, 24}},
      // frame 0 alone, then one or two frames a part, the closing record alone
      {24, 16, 0, {0, 1, 3, 4, 6, 8, 9, 11, 13, 14, 16, 17, 19, 21, 22, 24, 24}},
      {2, 2, 0, {0, 2, 2}},
  };
  for (const Cut& cut : cuts) {
    std::vector<int32_t> firsts;
    for (int32_t k = 0; k < cut.parts; ++k)
      firsts.push_back(split_frames(cut.frames, k, cut.parts, cut.tolerance).first);
    firsts.push_back(split_frames(cut.frames, cut.parts - 1, cut.parts, cut.tolerance).end);
    EXPECT_EQ(firsts, cut.firsts) << cut.frames << " frames, " << cut.parts << " parts";
  }
}

// A part's module may read frame 0, the frame before its range (with a
// tolerance, from the last refresh frame up to it) and its range, and
// nothing else.
TEST(ParallelEncode, APartIsGrantedOnlyItsFrames) {
  std::vector<std::string> frames;
  for (int n = 0; n < 150; ++n) frames.push_back("/frames/" + std::to_string(n) + ".png");
  EncodingRequest::PartRange range{4, 8, false};
  EncodingRequest::PartRange late{100, 120, false};
  FileGrants exact = listed_frame_grants(frames, &range);
  FileGrants tolerant = listed_frame_grants(frames, &late, 4);
  struct Case {
    const FileGrants* grants;
    const char* path;
    ReadGrant::Kind kind;
  };
  const Case cases[] = {
      {&exact, "frame_0.png", ReadGrant::GRANTED},     {&exact, "frame_2.png", ReadGrant::REFUSED},
      {&exact, "frame_3.png", ReadGrant::GRANTED},     {&exact, "frame_7.png", ReadGrant::GRANTED},
      {&exact, "frame_8.png", ReadGrant::REFUSED},     {&exact, "frame_11.png", ReadGrant::REFUSED},
      {&exact, "frame_-1.png", ReadGrant::REFUSED},    {&exact, "/frames/4.png", ReadGrant::REFUSED},
      {&exact, "frame_150.png", ReadGrant::MISSING},   {&tolerant, "frame_0.png", ReadGrant::GRANTED},
      {&tolerant, "frame_63.png", ReadGrant::REFUSED}, {&tolerant, "frame_64.png", ReadGrant::GRANTED},
      {&tolerant, "frame_119.png", ReadGrant::GRANTED}, {&tolerant, "frame_120.png", ReadGrant::REFUSED}};
  for (const Case& c : cases) EXPECT_EQ(c.grants->readable(c.path).kind, c.kind) << c.path;
  EXPECT_EQ(exact.readable("frame_5.png").host_path, "/frames/5.png");
}

// A worker that dies without a report fails the run with its signal, and the
// old output stays.
TEST(ParallelEncode, AWorkerKilledIsReportedWithItsSignal) {
  TempDir dir;
  write_frames(dir, 8);
  std::vector<std::string> frames;
  for (int n = 0; n < 8; ++n) frames.push_back(frame_path(dir, n));
  const std::string output = dir.file("o.velt");
  ParallelRequest request{&frames, "", output, 20, 0, 2, nullptr};
  request.worker_opened = [](const char* path, bool) {
    if (std::string(path) == expand_x_pattern(kListedFramePattern, 5)) raise(SIGKILL);
  };
  std::string failure;
  encode_in_workers(request, &failure);
  EXPECT_EQ(failure, "the worker of part 1 was killed by signal 9 (Killed)");
  EXPECT_FALSE(e2e::file_exists(output));
}

// An interrupt ends the parent and, with it, every worker; the old output
// stays and no part or temporary file is left.
TEST(ParallelEncode, InterruptStopsEveryWorkerAndKeepsTheOldOutput) {
  TempDir frames, out;
  toolkit_test::write_noise_frames(frames, 20);
  // orphaned workers come to this process, which can then see them end
  ASSERT_EQ(prctl(PR_SET_CHILD_SUBREAPER, 1), 0);
  const std::string output = out.file("o.velt");
  const Bytes old = {'o', 'l', 'd'};
  e2e::write_file(output, old);
  pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    signal(SIGINT, SIG_DFL);
    execl(VELT_PATH, VELT_PATH, "encode", frames.path().c_str(), output.c_str(), "--mode",
          "opaque12", "--jobs", "3", static_cast<char*>(nullptr));
    _exit(127);
  }
  EXPECT_TRUE(e2e::wait_for_unnamed_file(pid, out.path(), 20)) << "the run never began its file";
  std::this_thread::sleep_for(std::chrono::milliseconds(100));  // the workers are busy by now
  kill(pid, SIGINT);
  int status = 0;
  waitpid(pid, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 128 + SIGINT);
  // every worker ends soon after its parent
  int orphans = 0;
  for (;;) {
    pid_t ended = waitpid(-1, &status, 0);
    if (ended < 0) break;
    ++orphans;
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL);
  }
  EXPECT_GE(orphans, 1) << "the workers had finished before the interrupt";
  EXPECT_LE(orphans, 3);
  prctl(PR_SET_CHILD_SUBREAPER, 0);
  EXPECT_EQ(list_directory(out.path()), std::vector<std::string>{"o.velt"});
  EXPECT_EQ(read_file(output), old);
}

}  // namespace
