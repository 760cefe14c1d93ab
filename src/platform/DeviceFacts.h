#pragma once

#include <optional>
#include <string>

namespace penwick::platform {

// What the machine says about itself. A value whose source yields nothing is absent.
struct DeviceFactsSnapshot {
    std::optional<std::string> model; // the kernel's machine name
    std::optional<std::string> platform; // the system's name
    std::optional<std::string> version; // the system's version
    std::optional<std::string> manufacturer;
    std::optional<std::string> serial;
    bool isVirtual = false; // a virtual machine or a container
};

// The device's facts, read afresh on every call. Main thread.
class DeviceFacts {
public:
    virtual ~DeviceFacts() = default;
    virtual DeviceFactsSnapshot read() const = 0;
};

} // namespace penwick::platform
