// velt-bench-search: per-block encoding time of the encoder's endpoint
// searches against the reference searches, modes 0 to 3, natively and inside
// the sandboxed benchmark module, on block sets cut from a photograph.
//
//   velt-bench-search [benchmark flags] <photo.png>
//   velt-bench-search --count <native|module> <mode> <set> <fast|reference> <photo.png>
//
// The first form checks that all four ways give the same records, then times
// them. The second encodes one set twice and has callgrind count the second
// time (--toggle-collect=counted_encode).
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "block_bench_core.h"
#include "block_sets.h"
#include "blockbench.h"
#include "module_host.h"

namespace {

VELT_PLAIN_MODULE(BlockBenchModule, blockbench);

constexpr int BLOCKS_PER_SET = 64;
constexpr double MIN_SECONDS = 0.1;
constexpr int REPETITIONS = 5;

enum class Where { native, module };
const char* where_name(Where where) { return where == Where::native ? "native" : "module"; }

struct NativeBlocks {
  BlockState prepared[BENCH_MAX_BLOCKS];
  int count;
  uint8_t records[BENCH_MAX_BLOCKS * VELT_MAX_RECORD_SIZE];
};
NativeBlocks native;

std::unique_ptr<ModuleHost<BlockBenchModule>> bench_module;

void start_module() { bench_module = std::make_unique<ModuleHost<BlockBenchModule>>(); }
Z_blockbench_instance_t* module_instance() { return bench_module->instance(); }

// A module address range checked against its memory; null when outside.
uint8_t* module_bytes(uint32_t offset, uint64_t size) {
  if (!bench_module->in_memory(offset, size)) return nullptr;
  return bench_module->memory()->data + offset;
}

// Prepares `set` for `mode` natively or in the module; the prepared count.
int load(Where where, const BlockSet& set, int mode) {
  if (where == Where::native) {
    native.count = prepare_blocks(set.rgba.data(), set.count(), mode, native.prepared);
    return native.count;
  }
  uint8_t* blocks = module_bytes(Z_blockbenchZ_blocks(module_instance()), set.rgba.size());
  if (blocks == nullptr) {
    std::fprintf(stderr, "module block buffer outside its memory\n");
    std::exit(2);
  }
  std::memcpy(blocks, set.rgba.data(), set.rgba.size());
  return static_cast<int>(Z_blockbenchZ_prepare(module_instance(), set.count(), mode));
}

void encode(Where where, int mode, bool reference) {
  if (where == Where::native) {
    encode_prepared(native.prepared, native.count, mode, reference, native.records);
  } else {
    Z_blockbenchZ_encode(module_instance(), mode, reference ? 1 : 0);
  }
}

std::vector<uint8_t> records(Where where, int mode, int count) {
  size_t size = static_cast<size_t>(bench_record_size(mode)) * count;
  const uint8_t* at = where == Where::native
                          ? native.records
                          : module_bytes(Z_blockbenchZ_records(module_instance()), size);
  if (at == nullptr) {
    std::fprintf(stderr, "module records outside its memory\n");
    std::exit(2);
  }
  return std::vector<uint8_t>(at, at + size);
}

bool applies(const BlockSet& set, int mode) {
  return !set.alpha_only || (mode & VELT_MODE_ALPHA_AWARE);
}

// Encodes every set in every mode the four ways and compares the records.
bool check_records(const std::vector<BlockSet>& sets) {
  int blocks = 0, differing = 0;
  for (int mode = 0; mode < 4; mode++) {
    for (const BlockSet& set : sets) {
      if (!applies(set, mode)) continue;
      std::vector<uint8_t> results[4];
      int count = 0;
      for (int way = 0; way < 4; way++) {
        Where where = way < 2 ? Where::native : Where::module;
        count = load(where, set, mode);
        encode(where, mode, way % 2 == 1);
        results[way] = records(where, mode, count);
      }
      int size = bench_record_size(mode);
      for (int b = 0; b < count; b++) {
        bool same = true;
        for (int way = 1; way < 4; way++) {
          same = same && std::memcmp(results[0].data() + size * b, results[way].data() + size * b,
                                     size) == 0;
        }
        differing += !same;
      }
      blocks += count;
      if (count < set.count()) {
        std::printf("note: mode %d set %s: %d of %d blocks reach the block encoders\n", mode,
                    set.name.c_str(), count, set.count());
      }
    }
  }
  if (differing == 0) {
    std::printf("check: identical records, fast and reference, native and module (%d blocks)\n",
                blocks);
  } else {
    std::printf("check: RECORDS DIFFER in %d of %d blocks (fast against reference, or native "
                "against module)\n",
                differing, blocks);
  }
  return differing == 0;
}

void time_blocks(benchmark::State& state, Where where, const BlockSet* set, int mode,
                 bool reference) {
  int count = load(where, *set, mode);
  for (auto _ : state) {
    encode(where, mode, reference);
    benchmark::ClobberMemory();
  }
  state.counters["blocks"] = count;
  state.SetItemsProcessed(state.iterations() * count);
}

void register_benchmarks(const std::vector<BlockSet>& sets) {
  for (Where where : {Where::native, Where::module}) {
    for (int mode = 0; mode < 4; mode++) {
      for (const BlockSet& set : sets) {
        if (!applies(set, mode)) continue;
        for (bool reference : {false, true}) {
          std::string name = std::string(where_name(where)) + "/mode" + std::to_string(mode) + "/" +
                             set.name + "/" + (reference ? "reference" : "fast");
          benchmark::RegisterBenchmark(name.c_str(), time_blocks, where, &set, mode, reference)
              ->MinTime(MIN_SECONDS)
              ->Repetitions(REPETITIONS)
              ->ReportAggregatesOnly(true)
              ->Unit(benchmark::kMicrosecond);
        }
      }
    }
  }
}

}  // namespace

// The encoding that callgrind counts; kept out of line under this name.
extern "C" __attribute__((noinline)) void counted_encode(Where where, int mode, bool reference) {
  encode(where, mode, reference);
}

namespace {

int count_once(char** args) {
  Where where = std::strcmp(args[0], "module") == 0 ? Where::module : Where::native;
  int mode = std::atoi(args[1]) & VELT_MODE_BITS;
  bool reference = std::strcmp(args[3], "reference") == 0;
  Photo photo;
  if (!load_photo(args[4], &photo)) return 1;
  std::vector<BlockSet> sets = make_block_sets(photo, BLOCKS_PER_SET);
  for (const BlockSet& set : sets) {
    if (set.name != args[2]) continue;
    int count = load(where, set, mode);
    // once first, so that one-time set-up (the search's distance table) is
    // not counted as if every block paid for it
    encode(where, mode, reference);
    counted_encode(where, mode, reference);
    std::printf("encoded %d blocks: %s mode %d set %s %s\n", count, where_name(where), mode,
                set.name.c_str(), reference ? "reference" : "fast");
    return 0;
  }
  std::fprintf(stderr, "no block set named %s\n", args[2]);
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 7 && std::strcmp(argv[1], "--count") == 0) {
    if (std::strcmp(argv[2], "module") == 0) start_module();
    int status = 0;
    const wasm_rt_memory_t* memory = bench_module ? bench_module->memory() : nullptr;
    if (run_guarded(memory, [&] { status = count_once(argv + 2); }) != WASM_RT_TRAP_NONE) {
      std::fprintf(stderr, "the benchmark module trapped\n");
      return 2;
    }
    return status;
  }
  benchmark::Initialize(&argc, argv);
  if (argc != 2) {
    std::fprintf(stderr, "Usage: %s [benchmark flags] <photo.png>\n", argv[0]);
    std::fprintf(stderr, "       %s --count <native|module> <mode> <set> <fast|reference> <photo.png>\n",
                 argv[0]);
    return 1;
  }
  Photo photo;
  if (!load_photo(argv[1], &photo)) return 1;
  std::vector<BlockSet> sets = make_block_sets(photo, BLOCKS_PER_SET);
  std::printf("photograph: %s, %ux%u\n", argv[1], photo.width, photo.height);
  for (const BlockSet& set : sets) {
    std::printf("set %s: %d blocks, %s\n", set.name.c_str(), set.count(), set.description.c_str());
  }

  start_module();
  // one guarded call around everything that runs module code
  wasm_rt_trap_t trap = run_guarded(bench_module->memory(), [&] {
    check_records(sets);
    std::fflush(stdout);
    register_benchmarks(sets);
    benchmark::RunSpecifiedBenchmarks();
  });
  if (trap != WASM_RT_TRAP_NONE) {
    std::fprintf(stderr, "the benchmark module trapped\n");
    return 2;
  }
  benchmark::Shutdown();
  return 0;
}
