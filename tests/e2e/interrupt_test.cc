// A run ended by a signal leaves the old output as it was, no temporary file
// behind, and exits with 128 + the signal's number (SIGKILL: dies by it).
#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <random>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "e2e_support.h"

extern char** environ;

namespace e2e {
namespace {

// The names in `dir`.
std::vector<std::string> names_in(const std::string& dir) {
  std::vector<std::string> names;
  if (DIR* d = opendir(dir.c_str())) {
    while (const dirent* e = readdir(d))
      if (std::string(e->d_name) != "." && std::string(e->d_name) != "..") names.push_back(e->d_name);
    closedir(d);
  }
  return names;
}

const int kSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGALRM, SIGUSR1, SIGKILL};

// Starts velt-encode-flags with the signals at their default action,
// whatever the test runner ignores, and its output thrown away.
pid_t start_encoder(const std::vector<std::string>& args) {
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  sigset_t defaults;
  sigemptyset(&defaults);
  for (int s : kSignals) sigaddset(&defaults, s);
  posix_spawnattr_setsigdefault(&attributes, &defaults);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  std::vector<char*> argv = {const_cast<char*>(VELT_ENCODE_FLAGS_PATH)};
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  pid_t pid = -1;
  EXPECT_EQ(posix_spawn(&pid, argv[0], &actions, &attributes, argv.data(), environ), 0);
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attributes);
  return pid;
}

TEST(Interrupt, SignalLeavesTheOldOutputAndNoTemporaryFile) {
  TempDir dir;
  // noise in 12-byte records with three colours: seconds of work per frame
  Image noise(256, 256, kBlack);
  std::mt19937 random(7);
  for (unsigned y = 0; y < 256; ++y)
    for (unsigned x = 0; x < 256; ++x)
      noise.set(x, y, {uint8_t(random()), uint8_t(random()), uint8_t(random()), 255});
  const std::string pattern = write_sequence(dir, "f", {noise});
  const std::string output = dir.file("old.velt");
  const Bytes old = {'o', 'l', 'd', '\n'};

  for (int signal_number : kSignals) {
    SCOPED_TRACE(strsignal(signal_number));
    write_file(output, old);
    pid_t pid = start_encoder({pattern, output, "20", "2"});
    ASSERT_GT(pid, 0);
    // the signal comes once the run is writing its file
    EXPECT_TRUE(wait_for_unnamed_file(pid, dir.path())) << "the run never began its file";
    kill(pid, signal_number);
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    if (signal_number == SIGKILL) {
      EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL);
    } else {
      ASSERT_TRUE(WIFEXITED(status)) << "ended by signal " << WTERMSIG(status);
      EXPECT_EQ(WEXITSTATUS(status), 128 + signal_number);
    }
    EXPECT_TRUE(same_bytes(read_file(output), old));
    EXPECT_EQ(names_in(dir.path()).size(), 2u) << "the frame and the old output, nothing else";
  }
}

}  // namespace
}  // namespace e2e
