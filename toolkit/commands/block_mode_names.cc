#include "block_mode_names.h"

namespace {

struct ModeName {
  const char* name;
  BlockMode mode;
};

const ModeName kModeNames[] = {
    {"opaque", MODE_OPAQUE},
    {"alpha", MODE_ALPHA},
    {"opaque12", MODE_OPAQUE12},
    {"alpha12", MODE_ALPHA12},
};

}  // namespace

std::optional<BlockMode> block_mode_from_name(const std::string& name) {
  for (const ModeName& entry : kModeNames)
    if (name == entry.name) return entry.mode;
  return std::nullopt;
}

const char* block_mode_name(BlockMode mode) {
  for (const ModeName& entry : kModeNames)
    if (entry.mode == mode) return entry.name;
  return "unknown";
}
