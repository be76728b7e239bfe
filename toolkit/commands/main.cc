// velt: one command for VELT animations, with subcommands to encode frames,
// look inside a file, get its frames back and measure its quality.
#include <csignal>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "command_line.h"
#include "commands.h"
#include "interrupt_cleanup.h"
#include "kernel_layers.h"
#include "velt_commit.h"  // VELT_COMMIT, written by the build

namespace {

const char kUsage[] =
    "Usage: velt COMMAND [ARGUMENTS] [OPTIONS]\n"
    "\n"
    "Commands:\n"
    "  encode INPUT OUT.velt     encode PNG frames (an X pattern, a %04d pattern or a\n"
    "                            directory) into a looping VELT animation\n"
    "  join OUT.velt PART...     join the parts of 'velt encode --part K/N' into one\n"
    "                            file\n"
    "  info FILE.velt            check a file and show its header and frame records\n"
    "  decode FILE.velt OUT      write the frames as RGBA PNG files (OUT has an X or\n"
    "                            a %d for the frame number)\n"
    "  compare FILE.velt INPUT   PSNR and SSIM of the frames against their sources\n"
    "\n"
    "Options:\n"
    "  -h, --help                show this help; 'velt COMMAND --help' for a command\n"
    "  --version                 show the version and the commit it was built from\n"
    "\n"
    "Exit status: 0 on success, 1 when a command fails, 2 for a wrong command line.\n";

struct Command {
  const char* name;
  int (*run)(const std::vector<std::string>&);
};

const Command kCommands[] = {
    {"encode", run_encode_command},
    {"join", run_join_command},
    {"info", run_info_command},
    {"decode", run_decode_command},
    {"compare", run_compare_command},
};

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fputs(kUsage, stderr);
    return EXIT_BAD_USAGE;
  }
  std::string first = argv[1];
  if (first == "-h" || first == "--help" || first == "help") {
    std::fputs(kUsage, stdout);
    return EXIT_OK;
  }
  if (first == "--version") {
    std::printf("velt %s (commit %s)\n", VELT_VERSION, VELT_COMMIT);
    std::printf("%s\n", sandbox_layers_text().c_str());
    return EXIT_OK;
  }
  // a file that outgrows the size limit is a write that fails with a reason
  // to report, not a death that leaves a temporary file behind
  std::signal(SIGXFSZ, SIG_IGN);
  // a signal ends a run with 128 + its number and leaves nothing behind
  end_cleanly_on_signals();
  std::vector<std::string> args(argv + 2, argv + argc);
  for (const Command& command : kCommands)
    if (first == command.name) return command.run(args);
  std::fprintf(stderr, "velt: unknown command '%s' (see 'velt --help')\n", argv[1]);
  return EXIT_BAD_USAGE;
}
