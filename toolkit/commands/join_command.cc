// velt join: the part files of 'velt encode --part' into the one VELT file
// that a single run over the whole sequence writes.
#include <string>

#include "atomic_file.h"
#include "command_line.h"
#include "commands.h"
#include "encoder_failure.h"
#include "output_check.h"
#include "part_join.h"
#include "printable_text.h"

namespace {

const char kHelp[] =
    "Usage: velt join OUT.velt PART...\n"
    "\n"
    "Joins the parts that 'velt encode INPUT PART --part K/N' wrote, given in\n"
    "any order, into OUT.velt: byte for byte the file that one run over all the\n"
    "frames writes. The parts are checked first: they must come from one\n"
    "sequence, encoded in one mode at one rate, and follow each other frame by\n"
    "frame from frame 0 to the part that ends the animation; each part, header\n"
    "and records, must match its hash. Parts after the one that ends the\n"
    "animation (when a frame was missing or failed) are not needed.\n"
    "\n"
    "OUT.velt appears whole or not at all: the joined file is read back and\n"
    "checked as 'velt info' checks a file before it takes its place. When the\n"
    "frames ended at a frame that failed, the file ends before it as a single\n"
    "run's does, and the failure is reported with exit status 1.\n"
    "\n"
    "Options:\n"
    "  -h, --help    show this help\n";

const CommandSyntax kSyntax = {"join", {}, {"OUT.velt", "PART"}, kHelp, true};

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
  // every part checked whole, one open at a time, before anything is written
  std::vector<PartInfo> parts(paths.size());
  std::string error;
  for (size_t i = 0; i < paths.size(); ++i) {
    PartSource source{printable_text(paths[i]), paths[i], -1};
    if (!check_part(source, &parts[i], &error)) return report_failure("join: " + error);
  }
  JoinPlan plan;
  if (!plan_join(parts, &plan, &error)) return report_failure("join: " + error);

  // built whole and read back before it is named or, for a pipe or FIFO, sent
  AtomicFile out;
  if (!out.open(output, &error, AtomicFile::NonRegular::COPY_ON_COMMIT))
    return report_failure("join: cannot write " + output + ": " + error);
  bool write_failed = false;
  if (!write_join(parts, plan, out.fd(), &write_failed, &error)) {
    if (write_failed) return report_failure("join: failed to write " + output + ": " + error);
    return report_failure("join: " + error);
  }
  if (!out.commit(&error)) return report_failure("join: failed to write " + output + ": " + error);

  const PartInfo& last = *plan.last;
  if (last.result == 0) return EXIT_OK;
  // the frames ended at a failure: reported as the encoding of the part did
  EncodingOutcome outcome;
  outcome.result = uint32_t(last.result);
  outcome.report = {last.result, plan.frame_count, last.failing_frame, 1, last.reason};
  auto frame_name = [](int32_t n) { return "number " + std::to_string(n); };
  return report_failure("join: " + output + " ends before frame " +
                        std::to_string(last.failing_frame) + ", which failed when " +
                        last.source.name + " was encoded: " +
                        encoder_failure_message(outcome, output, frame_name));
}
