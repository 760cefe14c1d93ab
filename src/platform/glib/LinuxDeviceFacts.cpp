#include "platform/glib/LinuxDeviceFacts.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <glib.h>
#include <sys/utsname.h>

#include "base/AsciiCase.h"
#include "base/GRef.h"

namespace penwick::platform {
namespace {

std::string trim(std::string_view text)
{
    auto isSpace = [](unsigned char c) { return std::isspace(c) != 0; };
    while (!text.empty() && isSpace(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && isSpace(text.back()))
        text.remove_suffix(1);
    return std::string(text);
}

// Firmware fills unset DMI fields with such words; they name no machine.
bool isPlaceholder(std::string_view value)
{
    static constexpr std::array kPlaceholders = { "to be filled by o.e.m.", "not specified", "default string",
        "system serial number", "none", "0", "n/a", "not applicable", "unknown" };
    // A-Z only: under Turkish case rules the C library's tolower() keeps "I".
    std::string l = asciiLowercase(std::string(value));
    return std::find(kPlaceholders.begin(), kPlaceholders.end(), l) != kPlaceholders.end();
}

} // namespace

LinuxDeviceFacts::LinuxDeviceFacts(std::string root, std::optional<std::string> machine)
    : m_root(std::move(root))
    , m_machine(std::move(machine))
{
    if (m_root.empty() || m_root.back() != '/')
        m_root += '/';
}

std::map<std::string, std::string> LinuxDeviceFacts::parseOsRelease(std::string_view text)
{
    std::map<std::string, std::string> fields;
    size_t start = 0;
    while (start <= text.size()) {
        size_t end = text.find('\n', start);
        std::string line = trim(text.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start));
        start = end == std::string_view::npos ? text.size() + 1 : end + 1;
        size_t eq = line.find('=');
        if (line.empty() || line[0] == '#' || eq == std::string::npos || eq == 0)
            continue;
        std::string key = line.substr(0, eq);
        std::string_view raw = std::string_view(line).substr(eq + 1);
        std::string value;
        char quote = !raw.empty() && (raw.front() == '"' || raw.front() == '\'') ? raw.front() : 0;
        if (quote) {
            raw.remove_prefix(1);
            if (!raw.empty() && raw.back() == quote)
                raw.remove_suffix(1);
        }
        for (size_t i = 0; i < raw.size(); ++i) {
            // Backslash escapes only stand inside double quotes (and unquoted), as in the shell.
            if (raw[i] == '\\' && quote != '\'' && i + 1 < raw.size())
                ++i;
            value += raw[i];
        }
        fields[key] = value;
    }
    return fields;
}

bool LinuxDeviceFacts::isHypervisorName(std::string_view name)
{
    static constexpr std::array kNames = { "kvm", "qemu", "vmware", "virtualbox", "innotek", "xen", "bochs", "parallels",
        "bhyve", "virtual machine", "hyper-v", "google compute engine", "amazon ec2", "openstack", "cloud hypervisor",
        "apple virtualization" };
    std::string l = asciiLowercase(std::string(name));
    return std::any_of(kNames.begin(), kNames.end(), [&](const char* n) { return l.find(n) != std::string::npos; });
}

std::optional<std::string> LinuxDeviceFacts::readTrimmed(const std::string& relative) const
{
    GUnique<char> contents;
    gsize length = 0;
    if (!g_file_get_contents((m_root + relative).c_str(), &contents.outPtr(), &length, nullptr))
        return std::nullopt;
    std::string value = trim(std::string_view(contents.get(), length));
    if (value.empty())
        return std::nullopt;
    return value;
}

bool LinuxDeviceFacts::exists(const std::string& relative) const
{
    return g_file_test((m_root + relative).c_str(), G_FILE_TEST_EXISTS);
}

bool LinuxDeviceFacts::isVirtual(const DeviceFactsSnapshot& facts) const
{
    if (facts.manufacturer && isHypervisorName(*facts.manufacturer))
        return true;
    if (auto product = readTrimmed("sys/class/dmi/id/product_name"); product && isHypervisorName(*product))
        return true;
    // The CPU tells a guest by its "hypervisor" flag.
    if (auto cpuinfo = readTrimmed("proc/cpuinfo")) {
        for (size_t pos = cpuinfo->find("flags"); pos != std::string::npos; pos = cpuinfo->find("flags", pos + 1)) {
            std::string line = cpuinfo->substr(pos, cpuinfo->find('\n', pos) - pos);
            if ((line + " ").find(" hypervisor ") != std::string::npos)
                return true;
        }
    }
    // Container engines leave these markers.
    if (exists(".dockerenv") || exists("run/.containerenv") || exists("run/systemd/container"))
        return true;
    if (auto environ = readTrimmed("proc/1/environ"); environ && environ->find(std::string("container=")) != std::string::npos)
        return true;
    return false;
}

DeviceFactsSnapshot LinuxDeviceFacts::read() const
{
    DeviceFactsSnapshot facts;
    if (m_machine) {
        facts.model = *m_machine;
    } else {
        utsname name {};
        if (uname(&name) == 0 && name.machine[0])
            facts.model = name.machine;
    }
    auto osRelease = readTrimmed("etc/os-release");
    if (!osRelease)
        osRelease = readTrimmed("usr/lib/os-release");
    if (osRelease) {
        auto fields = parseOsRelease(*osRelease);
        if (auto it = fields.find("NAME"); it != fields.end() && !it->second.empty())
            facts.platform = it->second;
        if (auto it = fields.find("VERSION_ID"); it != fields.end() && !it->second.empty())
            facts.version = it->second;
    }
    if (auto vendor = readTrimmed("sys/class/dmi/id/sys_vendor"); vendor && !isPlaceholder(*vendor))
        facts.manufacturer = vendor;
    // Readable by root only on most systems; left out otherwise.
    if (auto serial = readTrimmed("sys/class/dmi/id/product_serial"); serial && !isPlaceholder(*serial))
        facts.serial = serial;
    facts.isVirtual = isVirtual(facts);
    return facts;
}

} // namespace penwick::platform
