#include "host_fault_switch.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

const char kHostFaultVariable[] = "VELT_TEST_HOST_FAULT";

namespace {

// Returns 0 when the action went through, else the errno it failed with.
int act(const std::string& action, const std::string& path) {
  if (action == "read") {
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return errno;
    close(fd);
    return 0;
  }
  if (action == "write") {
    int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) return errno;
    ssize_t written = write(fd, "host fault\n", 11);
    close(fd);
    return written == 11 ? 0 : errno;
  }
  if (action == "socket") {
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return errno;
    sockaddr_in to = {};
    to.sin_family = AF_INET;
    to.sin_port = htons(9);
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    // refused by the kernel's rules (EACCES) or by no one listening: either
    // way the socket was made, which the sandbox should not have let happen
    int connected = connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof to);
    int reason = errno;
    close(fd);
    return connected == 0 || reason == ECONNREFUSED ? 0 : reason;
  }
  if (action == "exec") {
    char* const argv[] = {const_cast<char*>(path.c_str()), nullptr};
    execv(path.c_str(), argv);
    return errno;
  }
  if (action == "signal-parent") return kill(getppid(), SIGTERM) == 0 ? 0 : errno;
  return EINVAL;
}

}  // namespace

void act_out_host_fault(const char* role, const char* program) {
  const char* asked = std::getenv(kHostFaultVariable);
  if (asked == nullptr) return;
  std::string text = asked;
  size_t colon = text.find(':');
  if (colon == std::string::npos || text.compare(0, colon, role) != 0) return;
  std::string action = text.substr(colon + 1), path;
  if (size_t at = action.find(':'); at != std::string::npos) {
    path = action.substr(at + 1);
    action.resize(at);
  }
  const char* who = program ? program : "velt: worker";
  int reason = act(action, path);
  if (reason == 0) {
    std::fprintf(stderr, "%s: test host fault %s was not stopped\n", who, action.c_str());
    std::fflush(stderr);
    _exit(HOST_FAULT_NOT_STOPPED);
  }
  std::fprintf(stderr, "%s: test host fault %s refused: %s\n", who, action.c_str(),
               std::strerror(reason));
  std::fflush(stderr);
  _exit(HOST_FAULT_REFUSED);
}
