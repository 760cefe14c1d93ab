// Device facts read from a fixture tree laid out like a Linux root (the resources folder of a
// stand-in environment).
#include <array>
#include <map>
#include <gtest/gtest.h>

#include "platform/glib/LinuxDeviceFacts.h"
#include "support/FakeAppEnvironment.h"

using penwick::platform::LinuxDeviceFacts;
using penwick::test::FakeAppEnvironment;

namespace {

TEST(OsRelease, FieldsLoseTheirQuotesAndEscapes)
{
    auto fields = LinuxDeviceFacts::parseOsRelease("# comment\nNAME=\"Debian GNU/Linux\"\nVERSION_ID='12'\n"
                                                   "ID=debian\n  PRETTY_NAME=\"say \\\"hi\\\"\"\nbroken line\n=x\nEMPTY=\n");
    EXPECT_EQ(fields, (std::map<std::string, std::string> { { "NAME", "Debian GNU/Linux" }, { "VERSION_ID", "12" },
                          { "ID", "debian" }, { "PRETTY_NAME", "say \"hi\"" }, { "EMPTY", "" } }));
}

// What a tree gives, and what missing or placeholder sources leave out.
TEST(DeviceFacts, ReadsTheFixtureTree)
{
    using Facts = std::array<std::optional<std::string>, 4>; // platform, version, manufacturer, serial
    const std::pair<std::map<std::string, std::string>, Facts> cases[] = {
        { { { "etc/os-release", "NAME=\"Fedora Linux\"\nVERSION_ID=40\n" }, { "sys/class/dmi/id/sys_vendor", "LENOVO\n" },
              { "sys/class/dmi/id/product_serial", " PF2ABCDE \n" } },
            { "Fedora Linux", "40", "LENOVO", "PF2ABCDE" } },
        { { { "usr/lib/os-release", "NAME=Arch Linux\n" }, // rolling: no VERSION_ID
              { "sys/class/dmi/id/sys_vendor", "To Be Filled By O.E.M.\n" }, { "sys/class/dmi/id/product_serial", "\n" } },
            { "Arch Linux", std::nullopt, std::nullopt, std::nullopt } },
    };
    for (const auto& [files, expected] : cases) {
        FakeAppEnvironment root;
        for (const auto& [file, content] : files)
            root.writeResource(file, content);
        auto facts = LinuxDeviceFacts(root.resourcePath(), "x86_64").read();
        EXPECT_EQ((Facts { facts.platform, facts.version, facts.manufacturer, facts.serial }), expected) << *expected[0];
    }
}

TEST(DeviceFacts, VirtualMachinesAndContainersAreRecognised)
{
    const struct { const char *name, *file; std::string content; bool isVirtual; } cases[] = {
        { "kvm vendor", "sys/class/dmi/id/sys_vendor", "QEMU\n", true },
        { "vmware product", "sys/class/dmi/id/product_name", "VMware Virtual Platform\n", true },
        { "hyper-v product", "sys/class/dmi/id/product_name", "Virtual Machine\n", true },
        { "virtualbox", "sys/class/dmi/id/product_name", "VirtualBox\n", true },
        { "cpu flag", "proc/cpuinfo", "flags\t: fpu sse2 hypervisor\n", true },
        { "docker", ".dockerenv", "", true },
        { "podman", "run/.containerenv", "", true },
        { "systemd-nspawn", "proc/1/environ", std::string("PATH=/bin\0container=systemd-nspawn\0", 35), true },
        { "laptop", "sys/class/dmi/id/product_name", "ThinkPad X1 Carbon\n", false },
        { "flag lookalike", "proc/cpuinfo", "flags\t: fpu hypervisor_x\n", false },
    };
    for (const auto& c : cases) {
        FakeAppEnvironment root;
        root.writeResource(c.file, c.content);
        EXPECT_EQ(LinuxDeviceFacts(root.resourcePath(), "x86_64").read().isVirtual, c.isVirtual) << c.name;
    }
}

} // namespace
