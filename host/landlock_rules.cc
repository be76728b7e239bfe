#include "landlock_rules.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstring>

#include "module_instance.h"  // VELT_ADDRESS_SANITIZER

namespace {

// Debian 12's headers stop at ABI 2 and glibc has no wrappers: the calls,
// structures and rights as the kernel defines them.
constexpr long kCreateRuleset = 444;
constexpr long kAddRule = 445;
constexpr long kRestrictSelf = 446;
constexpr int kRulePathBeneath = 1;

struct RulesetAttr {
  uint64_t handled_access_fs;
  uint64_t handled_access_net;  // from ABI 4
  uint64_t scoped;              // from ABI 6
};

struct __attribute__((packed)) PathBeneathAttr {
  uint64_t allowed_access;
  int32_t parent_fd;
};

enum : uint64_t {
  FS_EXECUTE = 1u << 0,
  FS_WRITE_FILE = 1u << 1,
  FS_READ_FILE = 1u << 2,
  FS_READ_DIR = 1u << 3,
  FS_REMOVE_DIR = 1u << 4,
  FS_REMOVE_FILE = 1u << 5,
  FS_MAKE_CHAR = 1u << 6,
  FS_MAKE_DIR = 1u << 7,
  FS_MAKE_REG = 1u << 8,
  FS_MAKE_SOCK = 1u << 9,
  FS_MAKE_FIFO = 1u << 10,
  FS_MAKE_BLOCK = 1u << 11,
  FS_MAKE_SYM = 1u << 12,
  FS_REFER = 1u << 13,      // ABI 2
  FS_TRUNCATE = 1u << 14,   // ABI 3
  FS_IOCTL_DEV = 1u << 15,  // ABI 5
  NET_BIND_TCP = 1u << 0,     // ABI 4
  NET_CONNECT_TCP = 1u << 1,  // ABI 4
  SCOPE_ABSTRACT_UNIX_SOCKET = 1u << 0,  // ABI 6
  SCOPE_SIGNAL = 1u << 1,                // ABI 6
};

// The newest ABI whose rights are known here; ABI 7 added only logging.
constexpr int kNewestKnownAbi = 6;

// The size of the ruleset attribute that ABI `abi` reads: older kernels
// refuse fields they do not know.
size_t ruleset_size(int abi) {
  if (abi >= 6) return sizeof(RulesetAttr);
  if (abi >= 4) return offsetof(RulesetAttr, scoped);
  return offsetof(RulesetAttr, handled_access_net);
}

// Adds a rule beneath `path` giving `access`, or `directory_access` when it
// is a directory (0: none then). For a file that is not a directory, the rule
// names the file alone. False with errno set.
bool add_path_rule(int ruleset, const std::string& path, uint64_t access,
                   uint64_t directory_access) {
  int fd = open(path.c_str(), O_PATH | O_CLOEXEC);
  if (fd < 0) return false;
  struct stat st;
  bool known = fstat(fd, &st) == 0;
  uint64_t allowed = known && S_ISDIR(st.st_mode) ? directory_access : access;
  PathBeneathAttr rule{allowed, fd};
  bool added = known && allowed != 0 && syscall(kAddRule, ruleset, kRulePathBeneath, &rule, 0) == 0;
  int saved = known && allowed != 0 ? errno : ENOTDIR;
  close(fd);
  errno = saved;
  return added;
}

}  // namespace

LandlockAccess landlock_handled_access(int abi) {
  LandlockAccess access;
  if (abi < 1) return access;
  abi = abi > kNewestKnownAbi ? kNewestKnownAbi : abi;
  access.fs = FS_EXECUTE | FS_WRITE_FILE | FS_READ_FILE | FS_READ_DIR | FS_REMOVE_DIR |
              FS_REMOVE_FILE | FS_MAKE_CHAR | FS_MAKE_DIR | FS_MAKE_REG | FS_MAKE_SOCK |
              FS_MAKE_FIFO | FS_MAKE_BLOCK | FS_MAKE_SYM;
  if (abi >= 2) access.fs |= FS_REFER;
  if (abi >= 3) access.fs |= FS_TRUNCATE;
  if (abi >= 4) access.net = NET_BIND_TCP | NET_CONNECT_TCP;
  if (abi >= 5) access.fs |= FS_IOCTL_DEV;
  if (abi >= 6) access.scoped = SCOPE_ABSTRACT_UNIX_SOCKET | SCOPE_SIGNAL;
  return access;
}

std::string landlock_coverage(int abi) {
  if (abi < 1) return "";
  if (abi < 4) return "files";
  if (abi < 6) return "files, network";
  return "files, network, signals";
}

bool restrict_with_landlock(int abi, const LandlockGrants& grants, std::string* error) {
  const LandlockAccess handled = landlock_handled_access(abi);
  RulesetAttr attr{handled.fs, handled.net, handled.scoped};
  int ruleset = int(syscall(kCreateRuleset, &attr, ruleset_size(abi), 0));
  if (ruleset < 0) {
    *error = std::string("landlock: cannot make a ruleset: ") + std::strerror(errno);
    return false;
  }
  // reading each file, nothing else; one that cannot be named now (gone, a
  // directory, out of reach) is left out, and the run's open of it fails as
  // it would have
  for (const std::string& path : grants.readable)
    // a frame that is a directory may be opened (READ_DIR: its names, not its
    // files' contents), so that the run refuses it for what it is
    add_path_rule(ruleset, path, FS_READ_FILE, FS_READ_DIR);
  if (!grants.naming_directory.empty() &&
      !add_path_rule(ruleset, grants.naming_directory, 0, FS_MAKE_REG | FS_REMOVE_FILE)) {
    *error = "landlock: cannot grant naming files in " + grants.naming_directory + ": " +
             std::strerror(errno);
    close(ruleset);
    return false;
  }
#ifdef VELT_ADDRESS_SANITIZER
  // AddressSanitizer's reports read the process's maps and the like
  add_path_rule(ruleset, "/proc", 0, FS_READ_FILE | FS_READ_DIR);
#endif
  bool restricted = syscall(kRestrictSelf, ruleset, 0) == 0;
  int saved = errno;
  close(ruleset);
  if (!restricted)
    *error = std::string("landlock: cannot restrict the process: ") + std::strerror(saved);
  return restricted;
}
