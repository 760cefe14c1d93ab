#pragma once

#include <map>
#include <optional>
#include <string>
#include <string_view>

#include "platform/DeviceFacts.h"

namespace penwick::platform {

// The device's facts where a Linux user would look: the machine name from uname, the system's
// name and version from os-release, vendor and serial from DMI, and virtual-machine or container
// signs (hypervisor DMI names, the CPU's hypervisor flag, container marker files). Every file is
// read below `root`, so tests point it at a fixture tree.
class LinuxDeviceFacts final : public DeviceFacts {
public:
    // `machine`: the kernel's machine name; nothing asks uname.
    explicit LinuxDeviceFacts(std::string root = "/", std::optional<std::string> machine = std::nullopt);

    DeviceFactsSnapshot read() const override;

    // The KEY=value pairs of an os-release text, quotes and escapes removed.
    static std::map<std::string, std::string> parseOsRelease(std::string_view text);
    // True when a DMI vendor or product name is that of a common hypervisor or cloud machine.
    static bool isHypervisorName(std::string_view name);

private:
    std::optional<std::string> readTrimmed(const std::string& relative) const;
    bool exists(const std::string& relative) const;
    bool isVirtual(const DeviceFactsSnapshot& facts) const;

    std::string m_root;
    std::optional<std::string> m_machine;
};

} // namespace penwick::platform
