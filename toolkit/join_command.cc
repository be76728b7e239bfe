// velt join: the part files of 'velt encode --part' into the one VELT file
// that a single run over the whole sequence writes.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "atomic_file.h"
#include "command_line.h"
#include "commands.h"
#include "encoder_failure.h"
#include "output_check.h"
#include "part_join.h"

namespace {

const char kHelp[] =
    "Usage: velt join OUT.velt PART...\n"
    "\n"
    "Joins the parts that 'velt encode INPUT PART --part K/N' wrote, given in\n"
    "any order, into OUT.velt: byte for byte the file that one run over all the\n"
    "frames writes. The parts are checked first: they must come from one\n"
    "sequence, encoded in one mode at one rate, and follow each other frame by\n"
    "frame from frame 0 to the part that ends the animation; each part's\n"
    "records are checked against their hash. Parts after the one that ends the\n"
    "animation (when a frame was missing or failed) are not needed.\n"
    "\n"
    "OUT.velt appears whole or not at all. When the frames ended at a frame that\n"
    "failed, the file ends before it as a single run's does, and the failure is\n"
    "reported with exit status 1.\n"
    "\n"
    "Options:\n"
    "  -h, --help    show this help\n";

const CommandSyntax kSyntax = {"join", {}, {"OUT.velt", "PART"}, kHelp, true};

class OpenParts {
 public:
  ~OpenParts() {
    for (int fd : fds_) close(fd);
  }
  int open_part(const std::string& path) {
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd >= 0) fds_.push_back(fd);
    return fd;
  }

 private:
  std::vector<int> fds_;
};

}  // namespace

int run_join_command(const std::vector<std::string>& args) {
  ParsedArguments parsed;
  if (std::optional<int> done = parse_command(kSyntax, args, &parsed)) return *done;
  const std::string& output = parsed.positional[0];
  std::vector<std::string> paths(parsed.positional.begin() + 1, parsed.positional.end());

  std::string conflict = listed_output_conflict(paths, output);
  if (!conflict.empty()) {
    if (conflict.rfind("it is the frame", 0) == 0) conflict = "it is one of the parts";
    return report_failure("join: cannot write " + output + ": " + conflict);
  }
  OpenParts open_parts;
  std::vector<PartInfo> parts;
  for (const std::string& path : paths) {
    int fd = open_parts.open_part(path);
    if (fd < 0) return report_failure("join: " + path + ": " + std::strerror(errno));
    PartInfo part;
    std::string error;
    if (!read_part_header(fd, path, &part, &error)) return report_failure("join: " + error);
    parts.push_back(part);
  }

  AtomicFile out;
  std::string error;
  if (!out.open(output, &error)) return report_failure("join: cannot write " + output + ": " + error);
  JoinResult joined;
  if (!join_parts(parts, out.fd(), &joined, &error)) {
    if (joined.write_failed) return report_failure("join: failed to write " + output + ": " + error);
    return report_failure("join: " + error);
  }
  if (!out.commit(&error)) return report_failure("join: failed to write " + output + ": " + error);

  const PartInfo& last = *joined.last;
  if (last.result == 0) return EXIT_OK;
  // the frames ended at a failure: reported as the encoding of the part did
  EncodingOutcome outcome;
  outcome.result = uint32_t(last.result);
  outcome.report = {last.result, joined.frame_count, last.failing_frame, 1, last.reason};
  auto frame_name = [](int32_t n) { return "number " + std::to_string(n); };
  return report_failure("join: " + output + " ends before frame " +
                        std::to_string(last.failing_frame) + ", which failed when " + last.name +
                        " was encoded: " + encoder_failure_message(outcome, output, frame_name));
}
