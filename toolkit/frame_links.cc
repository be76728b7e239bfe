#include "frame_links.h"

#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "frame_input.h"
#include "interrupt_cleanup.h"

namespace {

// Longest base for the directory: the links' paths must stay well inside the
// encoder's 255 bytes.
constexpr size_t MAX_TEMP_BASE = 128;

std::string temp_base() {
  const char* base = std::getenv("TMPDIR");
  if (base == nullptr || base[0] != '/' || std::strlen(base) > MAX_TEMP_BASE ||
      std::strchr(base, 'X') != nullptr)
    return "/tmp";
  std::string text = base;
  while (text.size() > 1 && text.back() == '/') text.pop_back();
  return text;
}

// `path` as an absolute path, so that a link to it works from anywhere.
std::string absolute(const std::string& path) {
  if (!path.empty() && path[0] == '/') return path;
  std::vector<char> cwd(4096);
  while (getcwd(cwd.data(), cwd.size()) == nullptr) {
    if (errno != ERANGE || cwd.size() > (1u << 20)) return path;
    cwd.resize(cwd.size() * 2);
  }
  return std::string(cwd.data()) + "/" + path;
}

// A fresh directory whose path has no 'X', which the encoder would take for
// the frame number; mkdtemp's letters may include one.
bool make_directory(std::string* directory, std::string* error) {
  std::string base = temp_base();
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::string templ = base + "/velt-XXXXXX";
    std::vector<char> name(templ.begin(), templ.end());
    name.push_back('\0');
    if (mkdtemp(name.data()) == nullptr) {
      *error = "cannot make a temporary directory in " + base + ": " + std::strerror(errno);
      return false;
    }
    if (std::strchr(name.data(), 'X') == nullptr) {
      *directory = name.data();
      return true;
    }
    rmdir(name.data());
  }
  *error = "cannot make a temporary directory without 'X' in its name in " + base;
  return false;
}

}  // namespace

FrameLinks::~FrameLinks() { remove(); }

bool FrameLinks::create(const std::vector<std::string>& frames, std::string* error) {
  {
    // no signal between making the directory and registering it
    InterruptsHeld held;
    if (!make_directory(&directory_, error)) return false;
    // one entry for the directory and every link in it: a run may link far
    // more frames than the table holds paths
    if (!remove_with_entries_on_interrupt(directory_.c_str())) {
      *error = "cannot register " + directory_ + " for removal on interrupt";
      rmdir(directory_.c_str());
      directory_.clear();
      return false;
    }
  }
  pattern_ = directory_ + "/X.png";
  for (size_t i = 0; i < frames.size(); ++i) {
    links_.push_back(expand_x_pattern(pattern_, static_cast<int32_t>(i)));
    sources_.push_back(frames[i]);
  }

  for (size_t i = 0; i < links_.size(); ++i) {
    if (symlink(absolute(sources_[i]).c_str(), links_[i].c_str()) != 0) {
      *error = "cannot link " + sources_[i] + " into " + directory_ + ": " + std::strerror(errno);
      remove();
      return false;
    }
  }
  return true;
}

std::string FrameLinks::source_of(const std::string& path) const {
  for (size_t i = 0; i < links_.size(); ++i)
    if (links_[i] == path) return sources_[i];
  return "";
}

void FrameLinks::remove() {
  if (directory_.empty()) return;
  for (const std::string& link : links_) unlink(link.c_str());
  {
    InterruptsHeld held;
    rmdir(directory_.c_str());
    keep_on_interrupt(directory_.c_str());
  }
  directory_.clear();
  pattern_.clear();
  links_.clear();
  sources_.clear();
}
