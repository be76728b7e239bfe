// velt-bench-confinement: the CPU time a process takes to confine itself
// (no_new_privs, Landlock with one rule a frame, the seccomp filter), for
// runs of 1 to 10,000 frames, as a single run and as the parent of workers
// followed by a worker narrowing it. Each sample is a fresh child process:
// confinement cannot be undone. Prints a Markdown table of medians.
//
// Usage: velt-bench-confinement [SAMPLES]   (default 21)
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "confinement.h"

namespace {

double cpu_microseconds() {
  timespec now;
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
  return double(now.tv_sec) * 1e6 + double(now.tv_nsec) / 1e3;
}

// Confines a fresh child by `policy` (and then, for a worker, by a worker's
// policy over it) and returns the CPU time that took, in microseconds, or a
// negative number when the child failed.
double sample(const ConfinementPolicy& policy, const ConfinementPolicy* worker) {
  int ends[2];
  if (pipe(ends) != 0) return -1;
  pid_t child = fork();
  if (child == 0) {
    close(ends[0]);
    ConfinementLevel level;
    std::string error;
    const double start = cpu_microseconds();
    bool ok = confine_process(policy, &level, &error);
    if (ok && worker) ok = confine_process(*worker, &level, &error);
    double took = ok ? cpu_microseconds() - start : -1;
    _exit(write(ends[1], &took, sizeof took) == sizeof took ? 0 : 1);
  }
  close(ends[1]);
  double took = -1;
  if (child < 0 || read(ends[0], &took, sizeof took) != sizeof took) took = -1;
  close(ends[0]);
  if (child > 0) waitpid(child, nullptr, 0);
  return took;
}

double median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  const size_t n = values.size();
  return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

}  // namespace

int main(int argc, char** argv) {
  const int samples = argc > 1 ? std::max(1, std::atoi(argv[1])) : 21;
  char folder[] = "/tmp/velt-bench-confinement-XXXXXX";
  if (mkdtemp(folder) == nullptr) {
    std::perror("velt-bench-confinement: cannot make a folder");
    return 1;
  }
  const size_t counts[] = {1, 100, 1000, 10000};
  std::vector<std::string> frames;
  for (size_t n = 0; n < counts[std::size(counts) - 1]; ++n) {
    frames.push_back(std::string(folder) + "/frame_" + std::to_string(n) + ".png");
    if (FILE* f = std::fopen(frames.back().c_str(), "w")) std::fclose(f);
  }

  std::printf("| frames | single run, CPU µs | parent then worker, CPU µs |\n|---:|---:|---:|\n");
  int status = 0;
  for (size_t count : counts) {
    ConfinementPolicy run;
    run.readable.assign(frames.begin(), frames.begin() + long(count));
    run.naming_directory = folder;
    ConfinementPolicy parent = run;
    parent.role = FilterRole::PARENT_OF_WORKERS;
    ConfinementPolicy worker = run;
    worker.role = FilterRole::WORKER;
    worker.naming_directory.clear();
    std::vector<double> single, pair;
    for (int s = 0; s < samples; ++s) {  // the two take turns
      single.push_back(sample(run, nullptr));
      pair.push_back(sample(parent, &worker));
    }
    if (*std::min_element(single.begin(), single.end()) < 0 ||
        *std::min_element(pair.begin(), pair.end()) < 0) {
      std::fprintf(stderr, "velt-bench-confinement: a child could not confine itself\n");
      status = 1;
    }
    std::printf("| %zu | %.0f | %.0f |\n", count, median(single), median(pair));
  }
  for (const std::string& frame : frames) std::remove(frame.c_str());
  rmdir(folder);
  return status;
}
