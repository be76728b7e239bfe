#include "kernel_layers.h"

#include <linux/seccomp.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <unistd.h>

#include "landlock_rules.h"
#include "module_instance.h"

namespace {

// Debian 12's headers stop at Landlock ABI 2 and glibc has no wrapper: the
// call's number and the flag that asks for the ABI, as the kernel defines them.
constexpr long kLandlockCreateRuleset = 444;
constexpr unsigned kLandlockCreateRulesetVersion = 1;

}  // namespace

bool forbid_new_privileges() { return prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) == 0; }

int landlock_abi() {
  long abi = syscall(kLandlockCreateRuleset, nullptr, 0, kLandlockCreateRulesetVersion);
  return abi > 0 ? int(abi) : 0;
}

bool seccomp_filters_available() {
  // asks whether filters may stop a call with SIGSYS, as velt's do; the
  // seccomp call itself, which a process already filtered may still make
  uint32_t action = SECCOMP_RET_TRAP;
  return syscall(SYS_seccomp, SECCOMP_GET_ACTION_AVAIL, 0, &action) == 0;
}

std::string sandbox_layers_text() {
  std::string text = guard_page_reservation_available()
                         ? "sandbox: wasm2c module with guard pages"
                         : "sandbox: wasm2c module with checked bounds";
  text += "; file grants";
  if (prctl(PR_GET_NO_NEW_PRIVS, 0, 0, 0, 0) == 1 || forbid_new_privileges())
    text += "; no_new_privs";
  const int abi = landlock_abi();
  text += abi > 0 ? "; landlock ABI " + std::to_string(abi) + " (" + landlock_coverage(abi) + ")"
                  : "; no landlock";
  text += seccomp_filters_available() ? "; seccomp" : "; no seccomp";
  return text;
}
