// What each Landlock ABI level handles, and how missing layers are named.
#include <gtest/gtest.h>

#include <cstdint>

#include "confinement.h"
#include "landlock_rules.h"

TEST(LandlockRules, EachAbiHandlesTheRightsItIntroduced) {
  // file rights 0..12 from ABI 1, REFER 13 (2), TRUNCATE 14 (3), TCP bind and
  // connect (4), IOCTL_DEV 15 (5), abstract sockets and signals scoped (6);
  // ABI 7 added only logging
  constexpr uint64_t kAbi1 = (1u << 13) - 1;
  struct Case {
    int abi;
    uint64_t fs, net, scoped;
    const char* coverage;
  } cases[] = {
      {0, 0, 0, 0, ""},
      {1, kAbi1, 0, 0, "files"},
      {2, kAbi1 | 1u << 13, 0, 0, "files"},
      {3, kAbi1 | 3u << 13, 0, 0, "files"},
      {4, kAbi1 | 3u << 13, 3, 0, "files, network"},
      {5, kAbi1 | 7u << 13, 3, 0, "files, network"},
      {6, kAbi1 | 7u << 13, 3, 3, "files, network, signals"},
      {7, kAbi1 | 7u << 13, 3, 3, "files, network, signals"},
      {9, kAbi1 | 7u << 13, 3, 3, "files, network, signals"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.abi);
    const LandlockAccess access = landlock_handled_access(c.abi);
    EXPECT_EQ(access.fs, c.fs);
    EXPECT_EQ(access.net, c.net);
    EXPECT_EQ(access.scoped, c.scoped);
    EXPECT_EQ(landlock_coverage(c.abi), c.coverage);
  }
}

TEST(Confinement, NamesEveryMissingLayer) {
  struct Case {
    ConfinementLevel level;
    bool every;
    const char* missing;
  } cases[] = {
      {{true, 7, true}, true, ""},
      {{true, 6, true}, true, ""},
      {{true, 5, true}, false, "landlock ABI 6 (this kernel has ABI 5)"},
      {{true, 0, false}, false, "landlock, seccomp"},
      {{false, 0, false}, false, "no_new_privs, landlock, seccomp"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(every_layer(c.level), c.every);
    EXPECT_EQ(missing_layers(c.level), c.missing);
  }
}
