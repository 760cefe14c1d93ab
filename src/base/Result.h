#pragma once

#include <cassert>
#include <string>
#include <utility>
#include <variant>

namespace penwick {

// An error as it crosses our APIs: a domain-specific code (errno, a file error code, ...) and a
// human-readable description for the log.
struct Error {
    int code = 0;
    std::string message;
};

// std::expected-style result. Fallible operations return it; callers must look.
template<typename T>
class [[nodiscard]] Result {
public:
    Result(T value) : m_v(std::in_place_index<0>, std::move(value)) { }
    Result(Error error) : m_v(std::in_place_index<1>, std::move(error)) { }

    bool hasValue() const { return m_v.index() == 0; }
    explicit operator bool() const { return hasValue(); }
    T& value() { assert(hasValue()); return std::get<0>(m_v); }
    const T& value() const { assert(hasValue()); return std::get<0>(m_v); }
    T& operator*() { return value(); }
    const T& operator*() const { return value(); }
    T* operator->() { return &value(); }
    const T* operator->() const { return &value(); }
    const Error& error() const { assert(!hasValue()); return std::get<1>(m_v); }

private:
    std::variant<T, Error> m_v;
};

template<>
class [[nodiscard]] Result<void> {
public:
    Result() = default;
    Result(Error error) : m_error(std::move(error)), m_failed(true) { }

    bool hasValue() const { return !m_failed; }
    explicit operator bool() const { return hasValue(); }
    const Error& error() const { assert(m_failed); return m_error; }

private:
    Error m_error;
    bool m_failed = false;
};

} // namespace penwick
