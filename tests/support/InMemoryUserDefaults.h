#pragma once

#include <map>
#include <optional>
#include <string>

#include "platform/UserDefaults.h"

namespace penwick::test {

// User defaults held in memory, booleans as the texts "1" and "0".
class InMemoryUserDefaults : public platform::UserDefaults {
public:
    bool boolForKey(const std::string& key) const override { return stringForKey(key) == "1"; }
    std::optional<std::string> stringForKey(const std::string& key) const override
    {
        auto it = m_values.find(key);
        return it == m_values.end() ? std::nullopt : std::optional(it->second);
    }
    Result<void> setString(const std::string& key, const std::string& value) override
    {
        m_values[key] = value;
        return {};
    }
    Result<void> setBool(const std::string& key, bool value) override { return setString(key, value ? "1" : "0"); }

private:
    std::map<std::string, std::string> m_values;
};

} // namespace penwick::test
