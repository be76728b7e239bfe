// The velt program's own options and its dispatch to subcommands.
#include "e2e_support.h"
#include "velt_program.h"

namespace {

using toolkit_test::run_velt;

TEST(VeltProgram, HelpVersionAndUnknownCommands) {
  struct Case {
    std::vector<std::string> args;
    int status;
    std::string out_start;  // what standard output starts with
    std::string err;
  };
  const Case cases[] = {
      {{"--version"}, 0, "velt 0.", ""},
      {{"--help"}, 0, "Usage: velt COMMAND", ""},
      {{"encode", "--help"}, 0, "Usage: velt encode INPUT OUT.velt", ""},
      {{"info", "-h"}, 0, "Usage: velt info FILE.velt", ""},
      {{"decode", "--help"}, 0, "Usage: velt decode FILE.velt OUT_PATTERN", ""},
      {{"compare", "--help"}, 0, "Usage: velt compare FILE.velt INPUT", ""},
      {{"join", "--help"}, 0, "Usage: velt join OUT.velt PART...", ""},
      {{"play"}, 2, "", "velt: unknown command 'play' (see 'velt --help')\n"},
      {{"info", "--verbose", "a.velt"},
       2,
       "",
       "velt: info: unknown option '--verbose' (see 'velt info --help')\n"},
  };
  for (const Case& c : cases) {
    e2e::RunResult run = run_velt(c.args);
    EXPECT_EQ(run.exit_status, c.status) << c.args[0];
    EXPECT_EQ(run.out.rfind(c.out_start, 0), 0u) << run.out;
    EXPECT_EQ(run.err, c.err);
  }
  e2e::RunResult version = run_velt({"--version"});
  EXPECT_NE(version.out.find(" (commit "), std::string::npos) << version.out;
  EXPECT_NE(version.out.find("\nsandbox: wasm2c module with "), std::string::npos) << version.out;
  EXPECT_NE(version.out.find("; file grants; no_new_privs; "), std::string::npos) << version.out;
  EXPECT_EQ(version.out.back(), '\n');
  e2e::RunResult bare = run_velt({});
  EXPECT_EQ(bare.exit_status, 2);
  EXPECT_EQ(bare.out, "");
  EXPECT_EQ(bare.err.rfind("Usage: velt COMMAND", 0), 0u) << "usage goes to standard error";
}

}  // namespace
