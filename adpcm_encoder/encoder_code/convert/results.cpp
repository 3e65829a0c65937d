#include "convert/results.h"

#include "convert/naming.h"

namespace convert {

using platform::SystemError;

ConversionResult Converted(Summary summary) { return {Outcome::Converted, {}, summary, {}}; }

ConversionResult Rejected(const std::string& path, const std::string& reason) {
    return {Outcome::Rejected, Shown(path) + ": " + reason, {}, {}};
}

ConversionResult Failure(const std::string& path, const char* step, const char* reason) {
    return {Outcome::Failed, Shown(path) + ": " + step + ": " + reason, {}, {}};
}

ConversionResult Failure(const std::string& path, const char* step, const SystemError& error) {
    return Failure(path, step, error.reason());
}

}  // namespace convert
