// Every input the sandbox fuzzers found and every hand-made hostile frame
// runs again through the real modules, with the fuzzers' own checks: no
// trap, no fault against the native build, and the outcome expected.tsv
// gives it.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <string>

#include "sandbox_targets.h"

namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;

const fs::path kRegressions = VELT_SANDBOX_REGRESSIONS_DIR;

// Lines of file (below the folder) and outcome, tab-separated.
std::map<std::string, std::string> read_manifest() {
  std::map<std::string, std::string> manifest;
  std::ifstream in(kRegressions / "expected.tsv");
  EXPECT_TRUE(in.good());
  std::string line;
  while (std::getline(in, line)) {
    if (line.empty() || line[0] == '#') continue;
    const size_t tab = line.find('\t');
    if (tab == std::string::npos) {
      ADD_FAILURE() << "bad manifest line: " << line;
      continue;
    }
    manifest[line.substr(0, tab)] = line.substr(tab + 1);
  }
  return manifest;
}

Bytes read_file(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// "result 0, file of 2 frames" or "result 7, no file".
std::string outcome_of(const EncoderTargetRun& run) {
  const std::string result = "result " + std::to_string(run.outcome.result);
  if (!run.outcome.output_kept) return result + ", no file";
  return result + ", file of " + std::to_string(run.frames_in_file) + " frames";
}

// "12 frames at 10 fps, result 0" or "refused 2: <reason>" for an animation.
std::string outcome_of(const AnimationTargetRun& run) {
  if (run.probe.result != 0)
    return "refused " + std::to_string(run.probe.result) + ": " + run.probe.reason;
  return std::to_string(run.probe.frames) + " frames at " + std::to_string(run.probe.rate) +
         " fps, " + (run.encoded ? "result " + std::to_string(run.outcome.result) : "not encoded");
}

// "decoded 8x4" or "refused: <reason>", the path left out of the reason.
std::string outcome_of(const PngTargetRun& run) {
  if (run.decoded)
    return "decoded " + std::to_string(run.picture.width) + "x" +
           std::to_string(run.picture.height);
  const size_t colon = run.error.find(": ");
  return "refused: " + (colon == std::string::npos ? run.error : run.error.substr(colon + 2));
}

// Runs every file of `folder` with `target`, checking it against `manifest`
// and taking its line out.
template <typename Target>
size_t run_folder(const std::string& folder, Target& target,
                  std::map<std::string, std::string>* manifest) {
  size_t files = 0;
  for (const fs::directory_entry& entry : fs::directory_iterator(kRegressions / folder)) {
    const std::string name = folder + "/" + entry.path().filename().string();
    SCOPED_TRACE(name);
    const Bytes input = read_file(entry.path());
    const auto run = target.run(input.data(), input.size());
    for (const std::string& fault : run.faults) ADD_FAILURE() << fault;
    const auto expected = manifest->find(name);
    if (expected == manifest->end()) {
      ADD_FAILURE() << "no line in expected.tsv; the outcome is: " << outcome_of(run);
      continue;
    }
    EXPECT_EQ(outcome_of(run), expected->second);
    manifest->erase(expected);
    ++files;
  }
  return files;
}

TEST(SandboxFuzzRegressions, EveryFileRunsSoundlyWithItsOutcome) {
  std::map<std::string, std::string> manifest = read_manifest();
  size_t encoder_files = 0, png_files = 0;
  {
    EncoderTarget encoder;
    encoder_files = run_folder("encoder", encoder, &manifest);
  }
  {
    PngModuleTarget png;
    png_files = run_folder("png", png, &manifest);
  }
  size_t animation_files = 0;
  {
    AnimationTarget animation;
    animation_files = run_folder("animation", animation, &manifest);
  }
  EXPECT_GT(encoder_files, 0u);
  EXPECT_GT(png_files, 0u);
  EXPECT_GT(animation_files, 0u);
  for (const auto& line : manifest) ADD_FAILURE() << "no file for manifest line " << line.first;
}

}  // namespace
