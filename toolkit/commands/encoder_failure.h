// The one-line error velt encode shows for a failed encoding run, made from
// the run's structured outcome rather than from the module's console text.
#ifndef VELT_TOOLKIT_ENCODER_FAILURE_H
#define VELT_TOOLKIT_ENCODER_FAILURE_H

#include <cstdint>
#include <functional>
#include <string>

#include "encoding_call.h"

// The message for a run that ended with a non-zero result: what failed, the
// user's path of the frame it failed at (`frame_path` of the frame number)
// or of the output, and the reason the module or the host gave.
std::string encoder_failure_message(const EncodingOutcome& outcome, const std::string& output,
                                    const std::function<std::string(int32_t)>& frame_path);

#endif
