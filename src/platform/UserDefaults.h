#pragma once

#include <optional>
#include <string>

#include "base/Result.h"

namespace penwick::platform {

// Per-application user defaults.
class UserDefaults {
public:
    virtual ~UserDefaults() = default;
    // False when absent or not a boolean.
    virtual bool boolForKey(const std::string& key) const = 0;
    virtual std::optional<std::string> stringForKey(const std::string& key) const = 0;
    // Sets the value and writes the store to disk atomically.
    virtual Result<void> setString(const std::string& key, const std::string& value) = 0;
    virtual Result<void> setBool(const std::string& key, bool value) = 0;
};

} // namespace penwick::platform
