#include "convert/results.h"

#include "convert/naming.h"

namespace convert {

using platform::About;
using platform::Message;
using platform::SystemError;
using platform::Text;

ConversionResult Converted(Summary summary) { return {Outcome::Converted, {}, summary, {}}; }

ConversionResult Rejected(const std::string& path, const std::string& reason) {
    return {Outcome::Rejected, About(Shown(path), reason), {}, {}};
}

ConversionResult Failure(const std::string& path, Message step, const char* reason) {
    return {Outcome::Failed, About(Shown(path), About(Text(step), reason)), {}, {}};
}

ConversionResult Failure(const std::string& path, Message step, Message reason) {
    return Failure(path, step, Text(reason));
}

ConversionResult Failure(const std::string& path, Message step, const SystemError& error) {
    return Failure(path, step, error.reason());
}

}  // namespace convert
