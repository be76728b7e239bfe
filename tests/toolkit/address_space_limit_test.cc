// Whole runs under an address-space limit, as `ulimit -v` sets on shared
// machines. Below the 8 GiB that a guard-page memory reserves, the programs
// run their modules' checked translations and give the same bytes; below even
// the modules' 64 MiB, each says so in one line and fails.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "e2e_support.h"
#include "module_instance.h"  // VELT_ADDRESS_SANITIZER
#include "velt_program.h"

namespace {

using e2e::RunResult;
using e2e::TempDir;

constexpr uint64_t MIB = uint64_t(1) << 20;

// Starts a program with its arguments; how is up to the test.
using Launcher = std::function<RunResult(const std::string&, const std::vector<std::string>&)>;

// Runs a program through `run` and fails the test unless it succeeded.
void run_to_success(const Launcher& run, const std::string& program,
                    const std::vector<std::string>& args) {
  RunResult r = run(program, args);
  EXPECT_TRUE(r.exit_status == 0 && r.signal == 0)
      << program << " " << args[0] << ": status " << r.exit_status << ", signal " << r.signal
      << "\n" << r.out << r.err;
}

std::string file_text(const std::string& path) {
  e2e::Bytes bytes = e2e::read_file(path);
  return std::string(bytes.begin(), bytes.end());
}

// One way to make something of the frames `pattern` in `dir`, with every
// program started by `run`: the file's bytes, or a report's text.
struct Way {
  const char* why;
  std::string (*make)(const Launcher& run, const std::string& pattern, const TempDir& dir);
};

const Way kWays[] = {
    {"velt-encode",
     [](const Launcher& run, const std::string& pattern, const TempDir& dir) {
       run_to_success(run, VELT_ENCODE_PATH, {pattern, dir.file("out.velt"), "20"});
       return file_text(dir.file("out.velt"));
     }},
    {"velt encode --jobs 1",
     [](const Launcher& run, const std::string& pattern, const TempDir& dir) {
       run_to_success(run, VELT_PATH, {"encode", pattern, dir.file("out.velt"), "--jobs", "1",
                                       "--mode", "opaque12"});
       return file_text(dir.file("out.velt"));
     }},
    {"velt encode --jobs 2, a module in each worker",
     [](const Launcher& run, const std::string& pattern, const TempDir& dir) {
       run_to_success(run, VELT_PATH,
                      {"encode", pattern, dir.file("out.velt"), "--jobs", "2", "--mode", "alpha"});
       return file_text(dir.file("out.velt"));
     }},
    {"velt encode --part 0/2 and 1/2, then velt join",
     [](const Launcher& run, const std::string& pattern, const TempDir& dir) {
       for (const char* k : {"0", "1"})
         run_to_success(run, VELT_PATH,
                        {"encode", pattern, dir.file(std::string("part") + k), "--part",
                         std::string(k) + "/2"});
       run_to_success(run, VELT_PATH,
                      {"join", dir.file("out.velt"), dir.file("part0"), dir.file("part1")});
       return file_text(dir.file("out.velt"));
     }},
    {"velt compare, the sources decoded in the PNG module",
     [](const Launcher& run, const std::string& pattern, const TempDir& dir) {
       run_to_success(run, VELT_PATH, {"encode", pattern, dir.file("out.velt"), "--jobs", "1"});
       RunResult r = run(VELT_PATH, {"compare", dir.file("out.velt"), pattern});
       EXPECT_EQ(r.exit_status, 0) << r.err;
       return r.out;
     }},
};

TEST(AddressSpaceLimit, BelowTheGuardPageReservationTheOutputIsTheSame) {
#ifdef VELT_ADDRESS_SANITIZER
  GTEST_SKIP() << "AddressSanitizer reserves terabytes of shadow memory at start-up: no program "
                  "of this build starts under an address-space limit";
#endif
  TempDir frames;
  toolkit_test::write_noise_frames(frames, 6);
  const std::string pattern = frames.file("fX.png");
  const uint64_t limits[] = {4096 * MIB, 256 * MIB};  // a cluster's usual, and a tight one
  for (const Way& way : kWays) {
    SCOPED_TRACE(way.why);
    TempDir free_dir;
    const std::string expected = way.make(e2e::run_program, pattern, free_dir);
    ASSERT_FALSE(expected.empty());
    for (uint64_t limit : limits) {
      SCOPED_TRACE(std::to_string(limit / MIB) + " MiB of address space");
      TempDir limited_dir;
      Launcher limited = [limit](const std::string& program, const std::vector<std::string>& args) {
        return e2e::run_program_with_limit(program, args, RLIMIT_AS, limit);
      };
      EXPECT_EQ(way.make(limited, pattern, limited_dir), expected);
    }
  }
}

TEST(AddressSpaceLimit, WithoutRoomForAModuleMemoryEachProgramFailsInOneLine) {
#ifdef VELT_ADDRESS_SANITIZER
  GTEST_SKIP() << "AddressSanitizer reserves terabytes of shadow memory at start-up: no program "
                  "of this build starts under an address-space limit";
#endif
  // room for the programs themselves, not for a module's 64 MiB memory
  constexpr uint64_t LIMIT = 40 * MIB;
  TempDir dir;
  toolkit_test::write_noise_frames(dir, 3);
  const std::string pattern = dir.file("fX.png");
  const std::string made = dir.file("made.velt");
  const std::string out = dir.file("out.velt");
  run_to_success(e2e::run_program, VELT_PATH, {"encode", pattern, made, "--jobs", "1"});
  const std::string refusal = "cannot map its 64 MiB of memory: Cannot allocate memory "
                              "(address-space limit 40 MiB)";
  struct Case {
    const char* why;
    std::string program;
    std::vector<std::string> args;
    int status;
    std::string out, err;  // all that is printed
  };
  const Case cases[] = {
      {"velt encode --jobs 1", VELT_PATH, {"encode", pattern, out, "--jobs", "1"}, 1, "",
       "velt: encode: the encoder module " + refusal + "\n"},
      {"velt encode --jobs 2: the workers' refusal, told once", VELT_PATH,
       {"encode", pattern, out, "--jobs", "2"}, 1, "",
       "velt: encode: the encoder module " + refusal + "\n"},
      {"velt encode --part", VELT_PATH, {"encode", pattern, out, "--part", "1/2"}, 1, "",
       "velt: encode: the encoder module " + refusal + "\n"},
      {"velt compare", VELT_PATH, {"compare", made, pattern}, 1, "",
       "velt: " + dir.file("f0.png") + ": the PNG decoder module " + refusal + "\n"},
      {"velt-encode: status 9, the module's lack of memory", VELT_ENCODE_PATH, {pattern, out, "20"},
       9,
       e2e::banner(pattern, out, 20).substr(0, e2e::banner(pattern, out, 20).find("Memory:")) +
           "Error!Out of module memory: the module " + refusal + ".\n",
       ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.why);
    RunResult r = e2e::run_program_with_limit(c.program, c.args, RLIMIT_AS, LIMIT);
    EXPECT_EQ(r.signal, 0);
    EXPECT_EQ(r.exit_status, c.status);
    EXPECT_EQ(r.out, c.out);
    EXPECT_EQ(r.err, c.err);
    EXPECT_FALSE(e2e::file_exists(out));
  }
}

}  // namespace
