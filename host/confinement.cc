#include "confinement.h"

#include <sys/stat.h>

#include <cstdlib>
#include <cstring>

#include "frame_pattern.h"
#include "host_fault_switch.h"
#include "kernel_layers.h"
#include "landlock_rules.h"
#include "velt_format.h"

namespace {

// Landlock's ABI from which it guards files, network and signals.
constexpr int kFullLandlockAbi = 6;

bool confined_for_own_runs = false;

}  // namespace

const char kRequireSandboxVariable[] = "VELT_REQUIRE_SANDBOX";

bool sandbox_required() {
  const char* value = std::getenv(kRequireSandboxVariable);
  return value != nullptr && std::strcmp(value, "1") == 0;
}

bool every_layer(const ConfinementLevel& level) {
  return level.no_new_privs && level.landlock_abi >= kFullLandlockAbi && level.seccomp;
}

std::string missing_layers(const ConfinementLevel& level) {
  std::string missing;
  auto add = [&missing](const std::string& layer) {
    missing += (missing.empty() ? "" : ", ") + layer;
  };
  if (!level.no_new_privs) add("no_new_privs");
  if (level.landlock_abi == 0) add("landlock");
  else if (level.landlock_abi < kFullLandlockAbi)
    add("landlock ABI " + std::to_string(kFullLandlockAbi) + " (this kernel has ABI " +
        std::to_string(level.landlock_abi) + ")");
  if (!level.seccomp) add("seccomp");
  return missing;
}

bool confined_for_runs() { return confined_for_own_runs; }

bool confine_process(const ConfinementPolicy& policy, ConfinementLevel* level,
                     std::string* error) {
  const bool strict = sandbox_required();
  *level = {};
  std::string refusal;  // why a layer the kernel offers was not applied
  level->no_new_privs = forbid_new_privileges();
  if (level->no_new_privs) {
    if (int abi = landlock_abi(); abi > 0) {
      LandlockGrants grants{policy.readable, policy.naming_directory};
      if (restrict_with_landlock(abi, grants, &refusal)) level->landlock_abi = abi;
    }
    if (seccomp_filters_available()) {
      report_blocked_calls_as(policy.program);
      std::string filter_refusal;
      level->seccomp = install_system_call_filter(policy.role, &filter_refusal);
      if (!level->seccomp && refusal.empty()) refusal = filter_refusal;
    }
  }
  confined_for_own_runs = policy.role != FilterRole::PARENT_OF_WORKERS;
  if (strict && !every_layer(*level)) {
    *error = std::string("refusing to run without every sandbox layer (") +
             kRequireSandboxVariable + "=1): missing " + missing_layers(*level) +
             (refusal.empty() ? "" : " (" + refusal + ")");
    return false;
  }
  act_out_host_fault(policy.fault_role, policy.program);
  return true;
}

std::vector<std::string> pattern_frames(const std::string& pattern) {
  std::vector<std::string> frames;
  for (int64_t n = 0; n <= VELT_MAX_FRAME_COUNT; ++n) {
    std::string path = expand_x_pattern(pattern, n);
    struct stat st;
    if (stat(path.c_str(), &st) != 0) break;
    const bool numbered = path != pattern;  // without 'X' the pattern is one frame
    frames.push_back(std::move(path));
    if (!numbered) break;
  }
  return frames;
}
