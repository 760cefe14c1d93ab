#pragma once

#include <map>
#include <optional>
#include <string>
#include <variant>

#include "platform/UserDefaults.h"

namespace penwick::test {

// User defaults held in memory; writes can be made to fail.
class InMemoryUserDefaults : public platform::UserDefaults {
public:
    bool boolForKey(const std::string& key) const override;
    std::optional<std::string> stringForKey(const std::string& key) const override;
    Result<void> setString(const std::string& key, const std::string& value) override;
    Result<void> setBool(const std::string& key, bool value) override;

    void setWriteFailure(std::optional<Error> error) { m_writeFailure = std::move(error); }
    int writeCount() const { return m_writes; }
    bool contains(const std::string& key) const { return m_values.contains(key); }

private:
    std::map<std::string, std::variant<bool, std::string>> m_values;
    std::optional<Error> m_writeFailure;
    int m_writes = 0;
};

} // namespace penwick::test
