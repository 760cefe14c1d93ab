#pragma once

#include <map>
#include <optional>
#include <string>
#include <variant>

#include "platform/UserDefaults.h"

namespace penwick::test {

// User defaults held in memory.
class InMemoryUserDefaults : public platform::UserDefaults {
public:
    bool boolForKey(const std::string& key) const override;
    std::optional<std::string> stringForKey(const std::string& key) const override;
    Result<void> setString(const std::string& key, const std::string& value) override;
    Result<void> setBool(const std::string& key, bool value) override;

private:
    std::map<std::string, std::variant<bool, std::string>> m_values;
};

} // namespace penwick::test
