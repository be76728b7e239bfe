// Every file the fuzzer found and every hand-made hostile file is read
// again: refused at its offset with its reason, or accepted and decoded.
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>

#include <gtest/gtest.h>

#include "e2e_support.h"
#include "reader_support.h"
#include "velt_reader.h"

namespace {

namespace fs = std::filesystem;
using reader_support::FileCopy;

const char kManifest[] = "expected.tsv";

struct Expectation {
  BlockMode mode;
  bool accepted;
  uint64_t offset;
  std::string reason;
};

bool parse_mode(const std::string& name, BlockMode* mode) {
  const std::map<std::string, BlockMode> modes = {{"opaque", MODE_OPAQUE},
                                                  {"alpha", MODE_ALPHA},
                                                  {"opaque12", MODE_OPAQUE12},
                                                  {"alpha12", MODE_ALPHA12}};
  const auto found = modes.find(name);
  if (found == modes.end()) return false;
  *mode = found->second;
  return true;
}

// Lines of file, mode, "accepted" or offset, reason; tab-separated.
std::map<std::string, Expectation> read_manifest(const fs::path& path) {
  std::map<std::string, Expectation> manifest;
  std::ifstream in(path);
  EXPECT_TRUE(in.good()) << path;
  std::string line;
  while (std::getline(in, line)) {
    if (line.empty() || line[0] == '#') continue;
    std::istringstream fields(line);
    std::string name, mode, outcome, reason;
    std::getline(fields, name, '\t');
    std::getline(fields, mode, '\t');
    std::getline(fields, outcome, '\t');
    std::getline(fields, reason);
    Expectation e{MODE_OPAQUE, outcome == "accepted", 0, reason};
    if (!parse_mode(mode, &e.mode) || (!e.accepted && outcome.find_first_not_of("0123456789") != std::string::npos)) {
      ADD_FAILURE() << "bad manifest line: " << line;
      continue;
    }
    if (!e.accepted) e.offset = std::stoull(outcome);
    manifest[name] = e;
  }
  return manifest;
}

TEST(FuzzRegressions, EveryFileIsRefusedWhereExpectedOrDecoded) {
  const fs::path dir = VELT_FUZZ_REGRESSIONS_DIR;
  std::map<std::string, Expectation> manifest = read_manifest(dir / kManifest);
  size_t files = 0;
  for (const fs::directory_entry& entry : fs::directory_iterator(dir)) {
    const std::string name = entry.path().filename().string();
    if (name == kManifest) continue;
    SCOPED_TRACE(name);
    const auto found = manifest.find(name);
    if (found == manifest.end()) {
      ADD_FAILURE() << "no line in " << kManifest;
      continue;
    }
    const Expectation& expected = found->second;
    const FileCopy file(e2e::read_file(entry.path().string()));
    VeltLayout layout;
    ReadError error;
    const bool accepted = file.read(expected.mode, &layout, &error);
    EXPECT_EQ(accepted, expected.accepted) << error.offset << ": " << error.reason;
    if (accepted) {
      std::vector<uint8_t> picture;
      for (size_t i = 0; i < layout.records.size(); ++i)
        apply_frame_record(file.data(), layout, i, &picture);
    } else {
      EXPECT_EQ(error.offset, expected.offset);
      EXPECT_EQ(error.reason, expected.reason);
    }
    manifest.erase(found);
    ++files;
  }
  EXPECT_GT(files, 0u);
  for (const auto& line : manifest) ADD_FAILURE() << "no file for manifest line " << line.first;
}

}  // namespace
