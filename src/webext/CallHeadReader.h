#pragma once

#include <nlohmann/json.hpp>
#include <string>
#include <vector>

namespace penwick::webext {

// Reads the first three elements of a page call's JSON (callback id, service, action) and stops:
// enough to answer a call too large to send without parsing all of it. Elements that are not
// plain values read as null.
class CallHeadReader : public nlohmann::json::json_sax_t {
public:
    std::vector<nlohmann::json> head;

    bool null() override { return value(nullptr); }
    bool boolean(bool v) override { return value(v); }
    bool number_integer(number_integer_t v) override { return value(v); }
    bool number_unsigned(number_unsigned_t v) override { return value(v); }
    bool number_float(number_float_t v, const string_t&) override { return value(v); }
    bool string(string_t& v) override { return value(v); }
    bool binary(binary_t&) override { return value(nullptr); }
    bool start_object(std::size_t) override { return open(); }
    bool key(string_t&) override { return true; }
    bool end_object() override { return close(); }
    bool start_array(std::size_t) override { return open(); }
    bool end_array() override { return close(); }
    bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception&) override { return false; }

private:
    bool value(nlohmann::json v)
    {
        if (m_depth == 1)
            head.push_back(std::move(v));
        return head.size() < 3;
    }
    bool open()
    {
        if (m_depth++ == 1)
            head.emplace_back(nullptr);
        return true;
    }
    bool close()
    {
        --m_depth;
        return head.size() < 3 || m_depth > 1;
    }
    int m_depth = 0;
};

} // namespace penwick::webext
