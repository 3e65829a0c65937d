// How a run words its outcome (outcome.h): "<file>: <reason>" for a
// rejection, "<file>: <step>: <reason>" for a failure, the step named from
// the table of messages (platform/messages.h), the reason the system's where
// it gives one.
#pragma once

#include <string>

#include "convert/outcome.h"
#include "platform/messages.h"
#include "platform/system_error.h"

namespace convert {

ConversionResult Converted(Summary summary = {});
ConversionResult Rejected(const std::string& path, const std::string& reason);
ConversionResult Failure(const std::string& path, platform::Message step, const char* reason);
ConversionResult Failure(const std::string& path, platform::Message step, platform::Message reason);
ConversionResult Failure(const std::string& path, platform::Message step,
                         const platform::SystemError& error);

}  // namespace convert
