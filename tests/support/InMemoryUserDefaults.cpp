#include "support/InMemoryUserDefaults.h"

namespace penwick::test {

bool InMemoryUserDefaults::boolForKey(const std::string& key) const
{
    auto it = m_values.find(key);
    if (it == m_values.end())
        return false;
    const bool* value = std::get_if<bool>(&it->second);
    return value && *value;
}

std::optional<std::string> InMemoryUserDefaults::stringForKey(const std::string& key) const
{
    auto it = m_values.find(key);
    if (it == m_values.end())
        return std::nullopt;
    const std::string* value = std::get_if<std::string>(&it->second);
    return value ? std::optional<std::string>(*value) : std::nullopt;
}

Result<void> InMemoryUserDefaults::setString(const std::string& key, const std::string& value)
{
    m_values[key] = value;
    return {};
}

Result<void> InMemoryUserDefaults::setBool(const std::string& key, bool value)
{
    m_values[key] = value;
    return {};
}

} // namespace penwick::test
