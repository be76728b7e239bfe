#include "when_opened.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>

namespace toolkit_test {

namespace {

constexpr char OPENED = 'o';
constexpr char QUIT = 'q';

char read_byte(int fd) {
  char byte = 0;
  while (read(fd, &byte, 1) < 0 && errno == EINTR) {
  }
  return byte;
}

void write_byte(int fd, char byte) {
  while (write(fd, &byte, 1) < 0 && errno == EINTR) {
  }
}

}  // namespace

WhenOpened::WhenOpened(std::string path, std::function<void()> action)
    : path_(std::move(path)), action_(std::move(action)) {
  if (pipe2(requests_, O_CLOEXEC) != 0 || pipe2(answers_, O_CLOEXEC) != 0) abort();
  thread_ = std::thread([this] {
    while (read_byte(requests_[0]) == OPENED) {
      if (!done_) {
        action_();
        done_ = true;
      }
      write_byte(answers_[1], OPENED);
    }
  });
}

WhenOpened::~WhenOpened() {
  write_byte(requests_[1], QUIT);
  thread_.join();
  for (int fd : {requests_[0], requests_[1], answers_[0], answers_[1]}) close(fd);
}

void WhenOpened::opened(const char* path) const {
  if (path_ != path) return;
  write_byte(requests_[1], OPENED);
  read_byte(answers_[0]);
}

bool WhenOpened::wait_done(double seconds) const {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
  while (!done_ && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  return done_;
}

}  // namespace toolkit_test
