#include "e2e_support.h"

#include <dirent.h>
#include <fcntl.h>
#include <ftw.h>
#include <limits.h>
#include <poll.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <sstream>
#include <thread>

extern "C" {
#include "lodepng.h"
}

extern char** environ;

namespace e2e {

Image::Image(unsigned w, unsigned h, Rgba fill) : width(w), height(h), rgba(size_t{w} * h * 4) {
  for (unsigned y = 0; y < h; ++y)
    for (unsigned x = 0; x < w; ++x) set(x, y, fill);
}

void Image::set(unsigned x, unsigned y, Rgba c) {
  uint8_t* p = &rgba[(size_t{y} * width + x) * 4];
  p[0] = c.r;
  p[1] = c.g;
  p[2] = c.b;
  p[3] = c.a;
}

void Image::fill_block(unsigned bx, unsigned by, Rgba c) {
  for (unsigned i = 0; i < 16; ++i) set(bx * 4 + i % 4, by * 4 + i / 4, c);
}

void Image::put_block(unsigned bx, unsigned by, const Rgba (&pixels)[16]) {
  for (unsigned i = 0; i < 16; ++i) set(bx * 4 + i % 4, by * 4 + i / 4, pixels[i]);
}

TempDir::TempDir() {
  const char* base = getenv("TMPDIR");
  // keep paths short (frame paths must fit the encoder's 256 bytes) and free
  // of upper-case X, which the encoder takes for the frame number
  if (base == nullptr || strlen(base) > 64 || strchr(base, 'X') != nullptr) base = "/tmp";
  std::string prefix = std::string(base) + "/velt-e2e-";
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::string templ = prefix + "XXXXXX";
    std::vector<char> buf(templ.begin(), templ.end());
    buf.push_back('\0');
    if (mkdtemp(buf.data()) == nullptr) {
      ADD_FAILURE() << "mkdtemp failed: " << strerror(errno);
      return;
    }
    if (strchr(buf.data(), 'X') == nullptr) {
      path_ = buf.data();
      return;
    }
    rmdir(buf.data());
  }
  ADD_FAILURE() << "no temporary directory without X in its name";
}

TempDir::~TempDir() {
  if (path_.empty()) return;
  nftw(
      path_.c_str(),
      [](const char* p, const struct stat*, int, struct FTW*) { return remove(p); }, 16,
      FTW_DEPTH | FTW_PHYS);
}

void write_png(const std::string& path, const Image& image) {
  LodePNGState state;
  lodepng_state_init(&state);
  state.encoder.auto_convert = 0;  // keep the file 8-bit RGBA
  unsigned char* png = nullptr;
  size_t size = 0;
  unsigned error = lodepng_encode(&png, &size, image.rgba.data(), image.width, image.height, &state);
  lodepng_state_cleanup(&state);
  if (error == 0) error = lodepng_save_file(png, size, path.c_str());
  free(png);
  ASSERT_EQ(error, 0u) << path << ": " << lodepng_error_text(error);
}

std::string write_sequence(const TempDir& dir, const std::string& stem,
                           const std::vector<Image>& frames) {
  for (size_t i = 0; i < frames.size(); ++i)
    write_png(dir.file(stem + "_" + std::to_string(i) + ".png"), frames[i]);
  return dir.file(stem + "_X.png");
}

void write_file(const std::string& path, const Bytes& bytes) {
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  ASSERT_TRUE(out.good()) << "cannot write " << path;
}

Bytes read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool file_exists(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0;
}

bool holds_unnamed_file_in(pid_t pid, const std::string& dir) {
  char real[PATH_MAX];
  if (realpath(dir.c_str(), real) == nullptr) return false;
  // the kernel shows such a file as "DIR/#INODE (deleted)"
  const std::string prefix = std::string(real) + "/#", suffix = " (deleted)";
  const std::string fds = "/proc/" + std::to_string(pid) + "/fd";
  bool found = false;
  if (DIR* d = opendir(fds.c_str())) {
    while (const dirent* e = readdir(d)) {
      char target[PATH_MAX];
      ssize_t n = readlink((fds + "/" + e->d_name).c_str(), target, sizeof target - 1);
      if (n <= 0) continue;
      std::string t(target, size_t(n));
      if (t.compare(0, prefix.size(), prefix) == 0 && t.size() > suffix.size() &&
          t.compare(t.size() - suffix.size(), suffix.size(), suffix) == 0)
        found = true;
    }
    closedir(d);
  }
  return found;
}

bool wait_for_unnamed_file(pid_t pid, const std::string& dir, int seconds) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
  while (!holds_unnamed_file_in(pid, dir)) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return true;
}

namespace {

// argv for `program` with `args` after it; the strings stay in their owners.
std::vector<char*> argument_vector(const std::string& program,
                                   const std::vector<std::string>& args) {
  std::vector<char*> argv;
  argv.push_back(const_cast<char*>(program.c_str()));
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  return argv;
}

// Reads the child's standard output and error from the pipes' read ends
// (closing them) until it closes both, then waits for it.
RunResult collect(pid_t pid, int out_fd, int err_fd) {
  RunResult result;
  // read both pipes together so neither can fill up and stall the child
  struct pollfd fds[2] = {{out_fd, POLLIN, 0}, {err_fd, POLLIN, 0}};
  std::string* sinks[2] = {&result.out, &result.err};
  int open_count = 2;
  while (open_count > 0) {
    if (poll(fds, 2, -1) < 0) {
      if (errno == EINTR) continue;
      break;
    }
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || fds[i].revents == 0) continue;
      char buf[4096];
      ssize_t n = read(fds[i].fd, buf, sizeof buf);
      if (n > 0) {
        sinks[i]->append(buf, static_cast<size_t>(n));
      } else if (n == 0 || errno != EINTR) {
        close(fds[i].fd);
        fds[i].fd = -1;
        --open_count;
      }
    }
  }
  for (auto& f : fds)
    if (f.fd >= 0) close(f.fd);

  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  if (WIFEXITED(status)) {
    result.exit_status = WEXITSTATUS(status);
  } else if (WIFSIGNALED(status)) {
    result.signal = WTERMSIG(status);
  }
  return result;
}

}  // namespace

RunResult run_program(const std::string& program, const std::vector<std::string>& args) {
  int out_pipe[2], err_pipe[2];
  if (pipe(out_pipe) != 0 || pipe(err_pipe) != 0) {
    ADD_FAILURE() << "pipe failed";
    return {};
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, out_pipe[1], 1);
  posix_spawn_file_actions_adddup2(&actions, err_pipe[1], 2);
  for (int fd : {out_pipe[0], out_pipe[1], err_pipe[0], err_pipe[1]})
    posix_spawn_file_actions_addclose(&actions, fd);

  // the signals that end a run at their default action, whatever the test
  // runner ignores, so that a test that sends one sees what a user would
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  sigset_t defaults;
  sigemptyset(&defaults);
  for (int s : {SIGHUP, SIGINT, SIGQUIT, SIGPIPE, SIGALRM, SIGTERM, SIGUSR1, SIGUSR2})
    sigaddset(&defaults, s);
  posix_spawnattr_setsigdefault(&attributes, &defaults);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF);
  std::vector<char*> argv = argument_vector(program, args);
  pid_t pid;
  int rc = posix_spawn(&pid, program.c_str(), &actions, &attributes, argv.data(), environ);
  posix_spawnattr_destroy(&attributes);
  posix_spawn_file_actions_destroy(&actions);
  close(out_pipe[1]);
  close(err_pipe[1]);
  if (rc != 0) {
    close(out_pipe[0]);
    close(err_pipe[0]);
    ADD_FAILURE() << "cannot start " << program << ": " << strerror(rc);
    return {};
  }
  return collect(pid, out_pipe[0], err_pipe[0]);
}

RunResult run_program_with_limit(const std::string& program, const std::vector<std::string>& args,
                                 int resource, uint64_t value) {
  int out_pipe[2], err_pipe[2];
  if (pipe(out_pipe) != 0 || pipe(err_pipe) != 0) {
    ADD_FAILURE() << "pipe failed";
    return {};
  }
  std::vector<char*> argv = argument_vector(program, args);
  pid_t pid = fork();
  if (pid == 0) {
    // only async-signal-safe calls between fork and exec
    int null_fd = open("/dev/null", O_RDONLY);
    if (null_fd < 0 || dup2(null_fd, 0) < 0 || dup2(out_pipe[1], 1) < 0 || dup2(err_pipe[1], 2) < 0)
      _exit(127);
    for (int fd : {null_fd, out_pipe[0], out_pipe[1], err_pipe[0], err_pipe[1]}) close(fd);
    struct rlimit limit;
    if (getrlimit(resource, &limit) != 0) _exit(127);
    limit.rlim_cur = value;
    if (setrlimit(resource, &limit) != 0) _exit(127);
    execve(argv[0], argv.data(), environ);
    _exit(127);
  }
  close(out_pipe[1]);
  close(err_pipe[1]);
  if (pid < 0) {
    close(out_pipe[0]);
    close(err_pipe[0]);
    ADD_FAILURE() << "cannot fork for " << program;
    return {};
  }
  return collect(pid, out_pipe[0], err_pipe[0]);
}

RunResult run_encode(const std::vector<std::string>& args) {
  return run_program(VELT_ENCODE_PATH, args);
}

RunResult run_encode_flags(const std::vector<std::string>& args) {
  return run_program(VELT_ENCODE_FLAGS_PATH, args);
}

std::string banner(const std::string& pattern, const std::string& output, int fps) {
  return "Input pattern: " + pattern + "\nOutput: " + output + "\nFPS: " + std::to_string(fps) +
         "\nInstantiating WASM module...\nRunning WASM init...\n"
         "Memory: 1024 pages, 67108864 bytes\nCalling compress_video_wasm...\n"
         "compress_video_wasm\n";
}

const char kSuccessLine[] = "\u2705 Success!\n";

bool ends_with(const std::string& text, const std::string& tail) {
  return text.size() >= tail.size() && text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

std::string failure_line(int code) {
  return "\u274C Failed with code: " + std::to_string(code) + "\n";
}

Bytes header(uint8_t rate_code, uint16_t frame_count, uint8_t width_code, uint8_t height_code) {
  return {'V', 'E', 'L', 'T', 0, rate_code, static_cast<uint8_t>(frame_count >> 8),
          static_cast<uint8_t>(frame_count & 0xFF), width_code, height_code};
}

Bytes concat(std::initializer_list<Bytes> parts) {
  Bytes all;
  for (const Bytes& p : parts) all.insert(all.end(), p.begin(), p.end());
  return all;
}

Bytes repeat(const Bytes& part, size_t times) {
  Bytes all;
  all.reserve(part.size() * times);
  for (size_t i = 0; i < times; ++i) all.insert(all.end(), part.begin(), part.end());
  return all;
}

namespace {

std::string hex_window(const Bytes& b, size_t from, size_t to) {
  std::ostringstream s;
  char buf[4];
  for (size_t i = from; i < to && i < b.size(); ++i) {
    snprintf(buf, sizeof buf, "%02X", b[i]);
    s << (i == from ? "" : " ") << buf;
  }
  return s.str();
}

}  // namespace

::testing::AssertionResult same_bytes(const Bytes& actual, const Bytes& expected) {
  size_t common = std::min(actual.size(), expected.size());
  size_t at = 0;
  while (at < common && actual[at] == expected[at]) ++at;
  if (at == common && actual.size() == expected.size()) return ::testing::AssertionSuccess();
  size_t from = at >= 8 ? at - 8 : 0;
  return ::testing::AssertionFailure()
         << "size " << actual.size() << " (expected " << expected.size()
         << "), first difference at offset " << at << "\n  actual   [" << from
         << "..]: " << hex_window(actual, from, at + 16) << "\n  expected [" << from
         << "..]: " << hex_window(expected, from, at + 16);
}

std::string real_frames_dir() {
  const char* dir = getenv("VELT_REAL_FRAMES_DIR");
  return dir != nullptr && dir[0] != '\0' ? dir : VELT_REAL_FRAMES_DIR;
}

std::vector<RealSequence> find_real_sequences(std::string* why) {
  const std::string dir = real_frames_dir();
  // the programs take an X in a pattern for the frame number, and frame
  // paths must fit the encoder's 256 bytes
  if (dir.find('X') != std::string::npos || dir.size() > 200) {
    *why = "the real sequences' folder " + dir + " has an X in it or is too long a path";
    return {};
  }
  std::vector<RealSequence> found;
  for (const char* name : {"camera", "screen", "sprite"}) {
    RealSequence sequence{name, dir + "/" + name, 0};
    while (file_exists(sequence.frame(sequence.frames))) ++sequence.frames;
    if (sequence.frames < 2) {
      *why = "no real sequence in " + sequence.directory +
             ": tools/real_frames.sh " + dir + " makes them";
      return {};
    }
    found.push_back(sequence);
  }
  return found;
}

bool real_frames_required() {
  const char* required = getenv("VELT_REAL_FRAMES_REQUIRED");
  return required != nullptr && std::string(required) == "1";
}

void RealSequenceTest::SetUp() {
  std::string why;
  sequences_ = find_real_sequences(&why);
  if (!sequences_.empty()) return;
  if (real_frames_required()) FAIL() << why;
  GTEST_SKIP() << why;
}

}  // namespace e2e
