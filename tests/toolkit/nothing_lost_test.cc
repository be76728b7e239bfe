// Nothing is lost, whatever happens to a run: its frames change or vanish
// under it, a signal ends it, its output is a link or cannot seek. A failure
// is one line and a non-zero status; an output is whole or as it was, and
// nothing is left beside it. Races are set off at a known moment by the open
// hook (tests/e2e/open_hook.c), never left to timing.
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <functional>

#include "e2e_support.h"
#include "kernel_layers.h"
#include "velt_part_format.h"
#include "velt_program.h"

namespace {

using e2e::Bytes;
using e2e::Image;
using e2e::read_file;
using e2e::TempDir;
using toolkit_test::list_directory;
using toolkit_test::OpenHook;
using toolkit_test::run_velt;
using toolkit_test::run_velt_with_open_hook;

const Bytes kOld = {'o', 'l', 'd'};

// Frame f of a short sequence: 8x8, a red block that moves from frame to frame.
Image moving_block(unsigned f) {
  Image image(8, 8, e2e::kWhite);
  image.fill_block(f % 2, (f / 2) % 2, e2e::kRed);
  return image;
}

// Frames f_0.png .. f_<count - 1>.png in `dir`; returns their X pattern.
std::string write_frames(const TempDir& dir, unsigned count) {
  std::vector<Image> frames;
  for (unsigned f = 0; f < count; ++f) frames.push_back(moving_block(f));
  return e2e::write_sequence(dir, "f", frames);
}

// A sequence of four frames in a directory, and what velt makes of it: the
// file, and its two halves as part files.
struct Sequence {
  std::string pattern, velt, part0, part1;
};
Sequence make_sequence(const TempDir& dir) {
  Sequence made{write_frames(dir, 4), dir.file("in.velt"), dir.file("p0"), dir.file("p1")};
  EXPECT_EQ(run_velt({"encode", made.pattern, made.velt}).exit_status, 0);
  EXPECT_EQ(run_velt({"encode", made.pattern, made.part0, "--part", "0/2"}).exit_status, 0);
  EXPECT_EQ(run_velt({"encode", made.pattern, made.part1, "--part", "1/2"}).exit_status, 0);
  return made;
}

std::string with(std::vector<std::string> args, const std::vector<std::string>& more) {
  std::string text;
  args.insert(args.end(), more.begin(), more.end());
  for (const std::string& a : args) text += a + " ";
  return text;
}

// A frame replaced or deleted while a run reads the frames, in each way a
// run is made: the failure names the frame, and the output keeps what a run
// over the frames before it writes, or stays as it was.
TEST(NothingLost, FramesThatChangeOrVanishDuringARun) {
  TempDir spare;
  e2e::write_png(spare.file("other.png"), Image(8, 8, e2e::kBlue));
  struct Case {
    const char* what;
    int opened;  // the frame whose open sets it off; -1: the output's, before any frame
    bool replace_frame_0;  // else: delete frame `failing`
    int failing;
    std::string message;  // after "velt: encode: ", with %s for the frame's path
    int kept;  // frames a whole run keeps before the failing one; -1: the old output stays
  };
  const Case cases[] = {
      {"frame 0 deleted before it is read", -1, false, 0,
       "cannot read frame %s: gone since the frames were listed", -1},
      // the kernel's sandbox, where there is one, reads only the files the
      // frames were when the run began: it refuses the new file outright
      {"frame 0 replaced before it is read again for the closing record", 3, true, 0,
       landlock_abi() > 0 ? "cannot read frame %s: replaced since the run began"
                          : "frame %s changed during the run: read again for the closing "
                            "record, it is another picture",
       -1},
      {"a later frame deleted after the listing", 2, false, 3,
       "cannot read frame %s: gone since the frames were listed", 3},
      // a part starts from the frame before it: without it, no part is written
      {"the frame before the second part deleted", 0, false, 2,
       "cannot read frame %s: gone since the frames were listed", 2},
  };
  const std::vector<std::string> ways[] = {{"--jobs", "1"}, {"--jobs", "2"}, {"--part", "1/2"}};
  for (const Case& c : cases) {
    for (const std::vector<std::string>& way : ways) {
      const bool part = way[0] == "--part";
      TempDir dir, out;
      e2e::write_png(spare.file("frame0.png"), Image(8, 8, e2e::kBlue));
      write_frames(dir, 4);
      auto frame = [&](int n) { return dir.file("f_" + std::to_string(n) + ".png"); };
      const std::string output = out.file("o.velt");
      e2e::write_file(output, kOld);
      SCOPED_TRACE(std::string(c.what) + ": " + with({"encode", dir.path(), output}, way));

      OpenHook hook{c.opened < 0 ? "O_TMPFILE" : frame(c.opened), c.replace_frame_0
                                         ? "rename:" + spare.file("frame0.png") + ":" + frame(0)
                                         : "unlink:" + frame(c.failing)};
      std::vector<std::string> args = {"encode", dir.path(), output};
      args.insert(args.end(), way.begin(), way.end());
      e2e::RunResult run = run_velt_with_open_hook(args, hook);

      std::string message = c.message;
      message.replace(message.find("%s"), 2, frame(c.failing));
      EXPECT_EQ(run.exit_status, 1);
      EXPECT_EQ(run.err, "velt: encode: " + message + "\n");
      EXPECT_EQ(list_directory(out.path()), std::vector<std::string>{"o.velt"});
      // part 1 of 2 of the four frames is frame 3 and the closing record
      if (c.kept < 0 || (part && c.failing < 3)) {
        EXPECT_EQ(read_file(output), kOld) << "the old output stays";
      } else if (!part) {
        TempDir before;
        std::vector<Image> frames;
        for (int f = 0; f < c.kept; ++f) frames.push_back(moving_block(unsigned(f)));
        ASSERT_EQ(run_velt({"encode", e2e::write_sequence(before, "f", frames),
                            before.file("o.velt")}).exit_status, 0);
        EXPECT_TRUE(e2e::same_bytes(read_file(output), read_file(before.file("o.velt"))))
            << "the frames before the failing one, then the closing record";
      }
    }
  }
}

// A signal at any point of a run that writes a file leaves the old output as
// it was and nothing beside it: the file has no name until it is complete.
// Signals that can be caught end the run with 128 + their number.
TEST(NothingLost, ASignalLeavesTheOldOutputAndNothingBeside) {
  TempDir in;
  const Sequence made = make_sequence(in);
  const std::string& pattern = made.pattern;
  const std::string& velt = made.velt;
  const std::string last_frame = in.file("f_3.png");

  struct Command {
    const char* what;
    std::function<std::vector<std::string>(const std::string& output)> args;
    std::string output_name;
    OpenHook hook;  // its action is the signal, filled in below
  };
  const Command commands[] = {
      {"encode in one process", [&](const std::string& o) {
         return std::vector<std::string>{"encode", pattern, o, "--jobs", "1"}; },
       "o.velt", {in.file("f_1.png"), "signal:"}},
      {"encode in two workers, the parent signalled",
       [&](const std::string& o) { return std::vector<std::string>{"encode", pattern, o, "--jobs", "2"}; },
       "o.velt", {last_frame, "signal-parent:"}},
      {"join", [&](const std::string& o) {
         return std::vector<std::string>{"join", o, made.part0, made.part1}; },
       "o.velt", {"O_TMPFILE", "signal:"}},
      {"decode --raw", [&](const std::string& o) {
         return std::vector<std::string>{"decode", velt, o, "--raw"}; },
       "o.rgba", {"O_TMPFILE", "signal:"}},
      {"decode to PNG files", [&](const std::string& o) {
         return std::vector<std::string>{"decode", velt, o.substr(0, o.size() - 5) + "X.png"}; },
       "f_0.png", {"O_TMPFILE", "signal:"}},
      {"compare --heatmap", [&](const std::string& o) {
         return std::vector<std::string>{"compare", velt, pattern, "--heatmap", o}; },
       "heat.png", {"O_TMPFILE", "signal:"}},
  };
  for (const Command& command : commands) {
    for (int signal_number : {SIGTERM, SIGQUIT, SIGALRM, SIGUSR1, SIGKILL}) {
      SCOPED_TRACE(std::string(command.what) + ", " + strsignal(signal_number));
      TempDir out;
      const std::string output = out.file(command.output_name);
      e2e::write_file(output, kOld);
      OpenHook hook = command.hook;
      hook.action += std::to_string(signal_number);
      e2e::RunResult run = run_velt_with_open_hook(command.args(output), hook);
      if (signal_number == SIGKILL) {
        EXPECT_EQ(run.signal, SIGKILL);
      } else {
        EXPECT_EQ(run.exit_status, 128 + signal_number) << run.err;
      }
      EXPECT_EQ(list_directory(out.path()), std::vector<std::string>{command.output_name});
      EXPECT_EQ(read_file(output), kOld);
    }
  }
}

// An output that is a symbolic link is written through it to where it leads,
// also when nothing is there yet (as a shell's > does); the links stay links.
TEST(NothingLost, OutputsThatAreLinksAreWrittenWhereTheyLead) {
  TempDir in;
  const Sequence made = make_sequence(in);
  const std::string& pattern = made.pattern;
  const std::string& velt = made.velt;

  struct Command {
    const char* what;
    std::vector<std::string> args;  // the output goes last, or where "OUT" stands
  };
  const Command commands[] = {
      {"encode in one process", {"encode", pattern, "OUT", "--jobs", "1"}},
      {"encode in two workers", {"encode", pattern, "OUT", "--jobs", "2"}},
      {"join", {"join", "OUT", made.part0, made.part1}},
      {"decode --raw", {"decode", velt, "OUT", "--raw"}},
      {"compare --heatmap", {"compare", velt, pattern, "--heatmap", "OUT"}},
  };
  struct Link {
    const char* what;
    std::vector<std::pair<std::string, std::string>> links;  // name -> target, in out/
    std::string written;  // the file that must receive the output
    bool exists;          // it is there before the run
  };
  const Link links[] = {
      {"a link to an existing file", {{"o", "target"}}, "target", true},
      {"a link to a file not there yet", {{"o", "target"}}, "target", false},
      {"a relative link into another directory", {{"o", "sub/target"}}, "sub/target", false},
      {"a link to a link to nothing yet", {{"o", "middle"}, {"middle", "sub/target"}},
       "sub/target", false},
  };
  for (const Command& command : commands) {
    // what the command writes to a plain path
    TempDir plain;
    std::vector<std::string> args = command.args;
    std::replace(args.begin(), args.end(), std::string("OUT"), plain.file("o"));
    ASSERT_EQ(run_velt(args).exit_status, 0) << command.what;
    const Bytes expected = read_file(plain.file("o"));
    for (const Link& link : links) {
      SCOPED_TRACE(std::string(command.what) + ", " + link.what);
      TempDir out;
      mkdir(out.file("sub").c_str(), 0700);
      for (const auto& [name, target] : link.links)
        ASSERT_EQ(symlink(target.c_str(), out.file(name).c_str()), 0);
      if (link.exists) e2e::write_file(out.file(link.written), kOld);
      args = command.args;
      std::replace(args.begin(), args.end(), std::string("OUT"), out.file("o"));
      e2e::RunResult run = run_velt(args);
      EXPECT_EQ(run.exit_status, 0) << run.err;
      EXPECT_TRUE(e2e::same_bytes(read_file(out.file(link.written)), expected));
      for (const auto& [name, target] : link.links) {
        struct stat st;
        EXPECT_TRUE(lstat(out.file(name).c_str(), &st) == 0 && S_ISLNK(st.st_mode)) << name;
      }
      std::vector<std::string> names = list_directory(out.path());
      std::vector<std::string> sub = list_directory(out.file("sub"));
      EXPECT_EQ(names.size() + sub.size(), link.links.size() + 2)
          << "only sub/, the links and the file written, nothing beside them";
    }
  }
}

// An output that cannot seek (a pipe, a FIFO, a device) gets the bytes a
// regular file gets, whatever --jobs is; a failed run sends it nothing, and a
// failed write names the output and the system's reason.
TEST(NothingLost, OutputsThatCannotSeekGetTheWholeFileOrNothing) {
  TempDir in;
  const Sequence made = make_sequence(in);
  const std::string& pattern = made.pattern;
  const Bytes expected = read_file(made.velt);
  TempDir broken;  // frame 0 is no PNG: no file at all
  e2e::write_file(broken.file("f_0.png"), {'n', 'o'});
  e2e::write_png(broken.file("f_1.png"), moving_block(1));

  struct Case {
    std::vector<std::string> args;  // to standard output, a pipe
    int status;
    Bytes out;
    std::string err;
  };
  const Case cases[] = {
      {{"encode", pattern, "/dev/stdout", "--jobs", "1"}, 0, expected, ""},
      {{"encode", pattern, "/dev/stdout", "--jobs", "2"}, 0, expected, ""},
      {{"encode", pattern, "/dev/stdout", "--part", "0/1"}, 0, {}, ""},
      {{"join", "/dev/stdout", made.part1, made.part0}, 0, expected, ""},
      {{"encode", broken.file("f_X.png"), "/dev/stdout", "--jobs", "1", "--mode", "bc9"}, 2, {},
       "velt: encode: unknown mode 'bc9': use opaque, alpha, opaque12 or alpha12 (see 'velt "
       "encode --help')\n"},
      {{"encode", broken.file("f_%d.png"), "/dev/stdout", "--jobs", "1"}, 1, {},
       "velt: encode: cannot read frame " + broken.file("f_0.png") +
           ": PNG file is smaller than a PNG header\n"},
      {{"encode", broken.file("f_%d.png"), "/dev/stdout", "--jobs", "2"}, 1, {},
       "velt: encode: cannot read frame " + broken.file("f_0.png") +
           ": PNG file is smaller than a PNG header\n"},
      {{"encode", pattern, "/dev/full", "--jobs", "1"}, 1, {},
       "velt: encode: failed to write /dev/full: No space left on device\n"},
      {{"encode", pattern, "/dev/full", "--jobs", "2"}, 1, {},
       "velt: encode: failed to write /dev/full: No space left on device\n"},
      {{"join", "/dev/full", made.part0, made.part1}, 1, {},
       "velt: join: failed to write /dev/full: No space left on device\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(with(c.args, {}));
    e2e::RunResult run = run_velt(c.args);
    EXPECT_EQ(run.exit_status, c.status);
    EXPECT_EQ(run.err, c.err);
    if (c.status == 0 && c.out.empty()) {
      EXPECT_GT(run.out.size(), size_t(VELT_PART_HEADER_SIZE)) << "a part file";
    } else {
      EXPECT_TRUE(e2e::same_bytes(Bytes(run.out.begin(), run.out.end()), c.out));
    }
  }

  // a FIFO: what its reader gets
  const std::string fifo = in.file("fifo");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  for (const char* jobs : {"1", "2"}) {
    SCOPED_TRACE(std::string("a FIFO, --jobs ") + jobs);
    Bytes received;
    pid_t reader = fork();
    ASSERT_GE(reader, 0);
    if (reader == 0) {
      Bytes got = read_file(fifo);
      e2e::write_file(in.file("received"), got);
      _exit(0);
    }
    EXPECT_EQ(run_velt({"encode", pattern, fifo, "--jobs", jobs}).exit_status, 0);
    int status = 0;
    waitpid(reader, &status, 0);
    EXPECT_TRUE(e2e::same_bytes(read_file(in.file("received")), expected));
  }
}

// A failed write names the file and the system's reason, in every way a file
// is written; the output keeps what it had.
TEST(NothingLost, AFailedWriteNamesTheFileAndTheReason) {
  TempDir in, out;
  const Sequence made = make_sequence(in);
  const std::string& pattern = made.pattern;
  const std::string output = out.file("o.velt");
  const std::vector<std::string> runs[] = {
      {"encode", pattern, output, "--jobs", "1"},
      {"encode", pattern, output, "--jobs", "2"},
      {"encode", pattern, output, "--part", "1/2"},
      {"join", output, made.part0, made.part1},
  };
  for (const std::vector<std::string>& args : runs) {
    SCOPED_TRACE(with(args, {}));
    e2e::write_file(output, kOld);
    e2e::RunResult run = toolkit_test::run_velt_with_file_size_limit(args, 100);
    EXPECT_EQ(run.exit_status, 1);
    EXPECT_EQ(run.err, "velt: " + args[0] + ": failed to write " + output + ": File too large\n");
    EXPECT_EQ(read_file(output), kOld);
    EXPECT_EQ(list_directory(out.path()), std::vector<std::string>{"o.velt"});
  }
}

}  // namespace
