// The block mode names of the command line: opaque, alpha, opaque12, alpha12,
// which are the encoding flags 0..3.
#ifndef VELT_TOOLKIT_BLOCK_MODE_NAMES_H
#define VELT_TOOLKIT_BLOCK_MODE_NAMES_H

#include <optional>
#include <string>

#include "velt_reader.h"

// The mode a name stands for, or nothing for an unknown name.
std::optional<BlockMode> block_mode_from_name(const std::string& name);
// The command-line name of `mode`.
const char* block_mode_name(BlockMode mode);

#endif
