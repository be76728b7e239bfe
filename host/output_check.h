// The output of a run must never be one of its inputs: a run that wrote over
// a frame would lose it, and a frame read back while it is being written
// would feed the run its own output.
#ifndef VELT_OUTPUT_CHECK_H
#define VELT_OUTPUT_CHECK_H

#include <string>
#include <vector>

// Why `output` cannot be written by a run over the frames of `pattern`, or ""
// when it can: an existing directory, a path the pattern produces, or the
// same file (device and inode) as one of the frames that exist.
std::string output_conflict(const std::string& pattern, const std::string& output);
// The same for a list of frame files: `output` may be none of them, by name
// or as the same file.
std::string listed_output_conflict(const std::vector<std::string>& frames,
                                   const std::string& output);

#endif
