// Every file call of an encoding run made to fail in turn: each fault must
// end in a documented code and message, never in a trap or in a damaged file
// reported as success, and a run that keeps no file must leave the old output
// exactly as it was.
#include <dirent.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "encoding_call.h"
#include "velt_reader.h"

namespace {

using Bytes = std::vector<uint8_t>;

const std::string kPattern = std::string(VELT_SOURCE_DIR) + "/examples/wheel/frame_X.png";
const Bytes kOldOutput = {'o', 'l', 'd', '\n'};

Bytes read_bytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void write_bytes(const std::string& path, const Bytes& bytes) {
  std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                              static_cast<std::streamsize>(bytes.size()));
}

std::vector<std::string> directory_entries(const std::string& path) {
  std::vector<std::string> names;
  if (DIR* dir = opendir(path.c_str())) {
    while (const dirent* e = readdir(dir))
      if (e->d_name[0] != '.' || (e->d_name[1] != '\0' && e->d_name[1] != '.'))
        names.push_back(e->d_name);
    closedir(dir);
  }
  return names;
}

// A run of the wheel into a fresh directory whose output already holds
// kOldOutput, with `fault` deciding which call fails.
struct FaultRun {
  EncodingOutcome outcome;
  std::string messages;  // the module's console text
  Bytes output;
  std::vector<std::string> directory;  // what the output's directory holds afterwards
};

FaultRun run_with_fault(int mode, std::function<uint32_t(FileCall, uint64_t)> fault) {
  char dir_template[] = "/tmp/velt-fault-XXXXXX";
  std::string dir = mkdtemp(dir_template);
  std::string output = dir + "/out.velt";
  write_bytes(output, kOldOutput);

  FaultRun run;
  FileServiceHooks hooks;
  hooks.console = [&](int, const uint8_t* bytes, size_t size) {
    run.messages.append(reinterpret_cast<const char*>(bytes), size);
  };
  hooks.fault = std::move(fault);
  EncodingConsole silent;
  run.outcome = run_encoding_call({kPattern.c_str(), output.c_str(), 20, mode}, silent, hooks);
  run.output = read_bytes(output);
  run.directory = directory_entries(dir);
  std::remove(output.c_str());
  for (const std::string& name : run.directory) std::remove((dir + "/" + name).c_str());
  rmdir(dir.c_str());
  return run;
}

bool reads_whole(const Bytes& file, int mode, uint16_t* frame_count) {
  VeltLayout layout;
  ReadError error;
  if (!read_velt_layout(file.data(), file.size(), static_cast<BlockMode>(mode), &layout, &error))
    return false;
  *frame_count = static_cast<uint16_t>(layout.header.frame_count);
  return true;
}

struct Fault {
  uint32_t error;
  const char* name;
};
const Fault kFaults[] = {{WASI_EIO, "EIO"}, {WASI_ENOSPC, "ENOSPC"}, {WASI_EACCES, "EACCES"},
                         {WASI_ENOENT, "ENOENT"}};
const char* const kCallNames[] = {"open", "read", "write", "seek", "close"};

// The message each failure code begins with.
bool documented_message(uint32_t code, const std::string& messages) {
  const std::multimap<uint32_t, std::string> kMessages = {
      {1, "Error!Cannot open output file "}, {2, "Error!Cannot read frame "},
      {6, "Error!Failed to write "},         {6, "Failed to seek to position\n"},
      {7, "Error!Cannot decode frame "},
  };
  auto [first, last] = kMessages.equal_range(code);
  for (auto it = first; it != last; ++it)
    if (messages.find(it->second) != std::string::npos) return true;
  return false;
}

class FaultSweep : public ::testing::TestWithParam<int> {};

TEST_P(FaultSweep, EveryFailedCallEndsInADocumentedOutcome) {
  {
    const int mode = GetParam();
    // the calls of a run without faults, and its file
    std::vector<FileCall> calls;
    FaultRun clean = run_with_fault(mode, [&](FileCall call, uint64_t) {
      calls.push_back(call);
      return 0u;
    });
    ASSERT_EQ(clean.outcome.result, 0u) << clean.messages;
    uint16_t clean_frames = 0;
    ASSERT_TRUE(reads_whole(clean.output, mode, &clean_frames));
    ASSERT_EQ(clean_frames, 16);

    std::map<std::string, int> outcomes;  // "<call> <fault>: code N, kept or not" -> runs
    for (uint64_t index = 1; index <= calls.size(); ++index) {
      for (const Fault& f : kFaults) {
        FileCall faulted = calls[index - 1];
        SCOPED_TRACE("mode " + std::to_string(mode) + ", call " + std::to_string(index) + " (" +
                     kCallNames[static_cast<int>(faulted)] + ") fails with " + f.name);
        FaultRun r = run_with_fault(
            mode, [&](FileCall, uint64_t i) { return i == index ? f.error : 0u; });
        const EncodingOutcome& o = r.outcome;
        ASSERT_EQ(o.trap, WASM_RT_TRAP_NONE);
        ASSERT_LE(o.result, 8u);
        EXPECT_EQ(r.directory, std::vector<std::string>{"out.velt"}) << "a temporary file stayed";
        ++outcomes[std::string(kCallNames[static_cast<int>(faulted)]) + " " + f.name +
                   ": code " + std::to_string(o.result) +
                   (o.output_kept ? ", file kept" : ", old output intact")];
        if (o.result != 0) {
          EXPECT_TRUE(documented_message(o.result, r.messages)) << r.messages;
          EXPECT_EQ(r.messages.back(), '\n') << r.messages;
        }
        if (!o.output_kept) {
          EXPECT_NE(o.result, 0u) << "success without a file";
          EXPECT_EQ(r.output, kOldOutput) << r.messages;
          continue;
        }
        uint16_t frames = 0;
        ASSERT_TRUE(reads_whole(r.output, mode, &frames)) << "a kept file is damaged";
        if (o.result == 0 && !(f.error == WASI_ENOENT && faulted == FileCall::OPEN)) {
          // only a frame that is missing may shorten a successful run
          EXPECT_EQ(r.output, clean.output) << r.messages;
        }
        EXPECT_EQ(frames, o.report.frames_encoded);
      }
    }
    std::printf("mode %d: %zu calls, each failed with %zu errors:\n", mode, calls.size(),
                std::size(kFaults));
    for (const auto& [what, runs] : outcomes) std::printf("  %5d  %s\n", runs, what.c_str());
  }
}

INSTANTIATE_TEST_SUITE_P(EachMode, FaultSweep, ::testing::Values(0, 1, 2, 3));

}  // namespace
