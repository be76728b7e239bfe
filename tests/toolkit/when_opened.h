// Makes a race certain in a test: an action runs in this process at the
// moment a module opens a given file, and the module waits until it is done,
// so what it reads next is known. The module may run in this process or in
// a process forked from it once the object exists (such as a worker of
// encode_in_workers): the opener asks through a pipe and waits for the
// answer, and the action runs on a thread of this process, outside any
// confinement of the opener.
#ifndef VELT_TESTS_TOOLKIT_WHEN_OPENED_H
#define VELT_TESTS_TOOLKIT_WHEN_OPENED_H

#include <atomic>
#include <functional>
#include <string>
#include <thread>

namespace toolkit_test {

class WhenOpened {
 public:
  // `path` as FileServiceHooks::on_open is told it; `action` runs once, at
  // the first open of it.
  WhenOpened(std::string path, std::function<void()> action);
  ~WhenOpened();
  WhenOpened(const WhenOpened&) = delete;
  WhenOpened& operator=(const WhenOpened&) = delete;

  // For an on_open hook: when `path` is the file, returns only once the
  // action has run.
  void opened(const char* path) const;
  // True once the action has run (in this process).
  bool done() const { return done_; }
  // Waits up to `seconds` for the action to have run; true when it has.
  bool wait_done(double seconds) const;

 private:
  std::string path_;
  std::function<void()> action_;
  int requests_[2] = {-1, -1};
  int answers_[2] = {-1, -1};
  std::atomic<bool> done_{false};
  std::thread thread_;
};

}  // namespace toolkit_test

#endif
