// The kernel's layer around every process that runs a module: a fault in
// velt's own host code, acted out right after confinement (the test-only
// VELT_TEST_HOST_FAULT), is refused by Landlock or stopped by the system-call
// filter, reported in one line, with nothing changed on disk.
#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "confinement.h"
#include "e2e_support.h"
#include "kernel_layers.h"
#include "module_instance.h"  // VELT_ADDRESS_SANITIZER
#include "velt_program.h"

namespace {

using e2e::TempDir;

const e2e::Bytes kOld = {'o', 'l', 'd'};

#ifdef VELT_ADDRESS_SANITIZER
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif

// Runs `program` under a shell that stays its parent (what a fault that
// signals its parent would hit), with the fault asked of `role`.
e2e::RunResult run_with_fault(const std::string& program, std::vector<std::string> args,
                              const std::string& fault) {
  args.insert(args.begin(), {"-c", "\"$@\"; exit $?", "sh", program});
  return toolkit_test::run_program_with_environment("/bin/sh", args,
                                                    {{"VELT_TEST_HOST_FAULT", fault}});
}

bool every_layer_here() { return landlock_abi() >= 6 && seccomp_filters_available(); }

}  // namespace

// Skips a test (or fails it, where every layer is required) on a kernel
// without every layer.
#define NEEDS_EVERY_LAYER()                                                                   \
  if (!every_layer_here()) {                                                                  \
    if (sandbox_required()) FAIL() << "the kernel lacks a layer: " << sandbox_layers_text(); \
    GTEST_SKIP() << "the kernel lacks a layer: " << sandbox_layers_text();                   \
  }

TEST(Confinement, AHostFaultIsRefusedOrStoppedInEveryConfinedProgram) {
  NEEDS_EVERY_LAYER();
  TempDir in, out, elsewhere;
  std::vector<e2e::Image> frames;
  for (unsigned n = 0; n < 4; ++n)
    frames.push_back(e2e::Image(8, 8, {uint8_t(60 * n), 90, 30, 255}));
  const std::string pattern = e2e::write_sequence(in, "f", frames);
  const std::string velt = in.file("in.velt");
  ASSERT_EQ(toolkit_test::run_velt({"encode", pattern, velt}).exit_status, 0);
  const std::string secret = elsewhere.file("secret");
  e2e::write_file(secret, kOld);

  // each program with its output in `out`; a worker's parent reports for it
  struct Program {
    const char* what;
    const char* role;
    std::string binary;
    std::vector<std::string> args;
    std::string output;
    bool starts_workers = false;
    bool is_worker = false;
  };
  const std::string o = out.file("o.velt"), heat = out.file("heat.png");
  const Program programs[] = {
      {"velt-encode", "velt-encode", VELT_ENCODE_PATH, {pattern, o, "20"}, o},
      {"velt encode --jobs 1", "encode", VELT_PATH, {"encode", pattern, o, "--jobs", "1"}, o},
      {"velt encode --jobs 2, the parent", "encode", VELT_PATH,
       {"encode", pattern, o, "--jobs", "2"}, o, true},
      {"velt encode --jobs 2, a worker", "worker", VELT_PATH,
       {"encode", pattern, o, "--jobs", "2"}, o, false, true},
      {"velt compare --heatmap", "compare", VELT_PATH,
       {"compare", velt, pattern, "--heatmap", heat}, heat},
  };
  enum Want { REFUSED, STOPPED };
  struct Fault {
    std::string action;
    Want want;
    Want want_of_parent;  // in the parent of workers, which may signal them
  };
  const Fault faults[] = {
      {"read:" + secret, REFUSED, REFUSED},      // Landlock: not one of its files
      {"write:" + out.file("beside"), STOPPED, STOPPED},  // no open that writes
      {"socket", STOPPED, STOPPED},
      {"exec:/bin/true", STOPPED, STOPPED},
      // Landlock: outside its domain (a sanitizer build's filter lets kill
      // through, for its leak check)
      {"signal-parent", kSanitized ? REFUSED : STOPPED, REFUSED},
  };
  for (const Program& p : programs) {
    for (const Fault& f : faults) {
      SCOPED_TRACE(std::string(p.what) + ", " + f.action);
      e2e::write_file(p.output, kOld);
      e2e::RunResult run = run_with_fault(p.binary, p.args, std::string(p.role) + ":" + f.action);
      const Want want = p.starts_workers ? f.want_of_parent : f.want;
      EXPECT_EQ(run.signal, 0) << "the shell above it is alive";
      EXPECT_EQ(run.err.find("was not stopped"), std::string::npos) << run.err;
      if (p.is_worker) {
        EXPECT_EQ(run.exit_status, 1);
        EXPECT_NE(run.err.find("velt: encode: the worker of part "), std::string::npos) << run.err;
        if (want == STOPPED) {
          EXPECT_NE(run.err.find("stopped by the sandbox at a system call it may not make"),
                    std::string::npos) << run.err;
        }
      } else if (want == REFUSED) {
        EXPECT_EQ(run.exit_status, 70) << run.err;
        EXPECT_NE(run.err.find("refused: "), std::string::npos) << run.err;
      } else {
        EXPECT_EQ(run.exit_status, 128 + SIGSYS) << run.err;
        EXPECT_NE(run.err.find(": the sandbox stopped a system call the run may not make ("),
                  std::string::npos) << run.err;
        EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
      }
      EXPECT_EQ(e2e::read_file(p.output), kOld);
      EXPECT_EQ(toolkit_test::list_directory(out.path()),
                std::vector<std::string>{p.output.substr(out.path().size() + 1)});
      EXPECT_EQ(e2e::read_file(secret), kOld);
      std::remove(p.output.c_str());
    }
  }
}

// On a kernel without Landlock (the open hook makes its calls fail), a run
// goes on with the layers there are; with VELT_REQUIRE_SANDBOX=1 each program
// refuses in one line, the output as it was.
TEST(Confinement, WithoutALayerARunGoesOnUnlessEveryLayerIsRequired) {
  NEEDS_EVERY_LAYER();  // all of them but the one the hook takes away
  TempDir in, out;
  const std::string pattern = e2e::write_sequence(
      in, "f", {e2e::Image(8, 8, {200, 90, 30, 255}), e2e::Image(8, 8, {0, 90, 30, 255})});
  const std::string velt = in.file("in.velt");
  ASSERT_EQ(toolkit_test::run_velt({"encode", pattern, velt}).exit_status, 0);
  toolkit_test::Environment without_landlock = toolkit_test::open_hook_loaded();
  without_landlock.push_back({"VELT_TEST_NO_LANDLOCK", "1"});
  auto run_without_landlock = [&](const std::string& program, const std::vector<std::string>& args,
                                  const char* required) {
    toolkit_test::Environment variables = without_landlock;
    variables.push_back({"VELT_REQUIRE_SANDBOX", required});
    return toolkit_test::run_program_with_environment(program, args, variables);
  };
  const std::string o = out.file("o.velt");
  struct Case {
    const char* what;
    std::string binary;
    std::vector<std::string> args;
    std::string output;
    int refused_status;
    std::string refused_line;
  } cases[] = {
      {"velt-encode", VELT_ENCODE_PATH, {pattern, o, "20"}, o, 12, "velt-encode: "},
      {"velt encode", VELT_PATH, {"encode", pattern, o, "--jobs", "2"}, o, 1, "velt: encode: "},
      {"velt compare", VELT_PATH, {"compare", velt, pattern, "--heatmap", o}, o, 1,
       "velt: compare: "},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    e2e::write_file(c.output, kOld);
    e2e::RunResult run = run_without_landlock(c.binary, c.args, "0");
    EXPECT_EQ(run.exit_status, 0) << run.err;
    EXPECT_NE(e2e::read_file(c.output), kOld);

    e2e::write_file(c.output, kOld);
    run = run_without_landlock(c.binary, c.args, "1");
    EXPECT_EQ(run.exit_status, c.refused_status);
    EXPECT_EQ(run.err, c.refused_line +
                           "refusing to run without every sandbox layer (VELT_REQUIRE_SANDBOX=1): "
                           "missing landlock\n");
    EXPECT_EQ(e2e::read_file(c.output), kOld);
    EXPECT_EQ(toolkit_test::list_directory(out.path()), std::vector<std::string>{"o.velt"});
  }
  e2e::RunResult version = run_without_landlock(VELT_PATH, {"--version"}, "0");
  EXPECT_NE(version.out.find("; no_new_privs; no landlock; seccomp\n"), std::string::npos)
      << version.out;
}
