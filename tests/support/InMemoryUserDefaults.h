#pragma once

#include <map>
#include <optional>
#include <string>

#include "platform/UserDefaults.h"

namespace penwick::test {

// User defaults held in memory; a key set as a text is no boolean and the other way round.
class InMemoryUserDefaults : public platform::UserDefaults {
public:
    bool boolForKey(const std::string& key) const override { return m_bools.count(key) && m_bools.at(key); }
    std::optional<std::string> stringForKey(const std::string& key) const override
    {
        auto it = m_strings.find(key);
        return it == m_strings.end() ? std::nullopt : std::optional(it->second);
    }
    Result<void> setString(const std::string& key, const std::string& value) override
    {
        m_bools.erase(key);
        m_strings[key] = value;
        return {};
    }
    Result<void> setBool(const std::string& key, bool value) override
    {
        m_strings.erase(key);
        m_bools[key] = value;
        return {};
    }

private:
    std::map<std::string, bool> m_bools;
    std::map<std::string, std::string> m_strings;
};

} // namespace penwick::test
