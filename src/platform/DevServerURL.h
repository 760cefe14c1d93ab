#pragma once

#include <string>
#include <string_view>

#include "base/Result.h"

namespace penwick::platform {

// The page of a development server an app starts on for one run (--dev-url, PENWICK_DEV_URL),
// instead of its start page; that page's origin may call native code for the run.
class DevServerURL {
public:
    // `text` when it is an absolute http or https URL with a host; otherwise the reason, naming
    // `source` (the option or the variable it came from).
    static Result<std::string> checked(std::string_view text, std::string_view source);
};

} // namespace penwick::platform
