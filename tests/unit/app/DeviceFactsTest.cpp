// Device facts read from a fixture tree laid out like a Linux root (the resources folder of a
// stand-in environment).
#include <array>
#include <clocale>
#include <map>
#include <gtest/gtest.h>

#include "platform/glib/LinuxDeviceFacts.h"
#include "support/FakeAppEnvironment.h"

using penwick::platform::LinuxDeviceFacts;
using penwick::test::FakeAppEnvironment;

namespace {

TEST(DeviceFacts, OsReleaseFieldsLoseTheirQuotesAndFixtureTreesGiveTheFactsAndTheVirtualMachines)
{
    auto fields = LinuxDeviceFacts::parseOsRelease("# comment\nNAME=\"Debian GNU/Linux\"\nVERSION_ID='12'\n"
                                                   "ID=debian\n  PRETTY_NAME=\"say \\\"hi\\\"\"\nbroken line\n=x\nEMPTY=\n");
    EXPECT_EQ(fields, (std::map<std::string, std::string> { { "NAME", "Debian GNU/Linux" }, { "VERSION_ID", "12" },
                          { "ID", "debian" }, { "PRETTY_NAME", "say \"hi\"" }, { "EMPTY", "" } }));

    // What a tree gives, what missing or placeholder sources leave out, and which trees are of a
    // virtual machine or a container.
    using Facts = std::array<std::optional<std::string>, 4>; // platform, version, manufacturer, serial
    using Files = std::map<std::string, std::string>;
    const std::string dmi = "sys/class/dmi/id/";
    const struct { const char* name; Files files; bool isVirtual; std::optional<Facts> facts = {}; } cases[] = {
        { "fedora", { { "etc/os-release", "NAME=\"Fedora Linux\"\nVERSION_ID=40\n" }, { dmi + "sys_vendor", "LENOVO\n" },
                        { dmi + "product_serial", " PF2ABCDE \n" } },
            false, Facts { "Fedora Linux", "40", "LENOVO", "PF2ABCDE" } },
        // Rolling: no VERSION_ID.
        { "arch", { { "usr/lib/os-release", "NAME=Arch Linux\n" }, { dmi + "sys_vendor", "To Be Filled By O.E.M.\n" },
                      { dmi + "product_serial", "\n" } },
            false, Facts { "Arch Linux", std::nullopt, std::nullopt, std::nullopt } },
        { "kvm vendor", { { dmi + "sys_vendor", "QEMU\n" } }, true }, { "virtualbox", { { dmi + "product_name", "VirtualBox\n" } }, true },
        { "vmware product", { { dmi + "product_name", "VMware Virtual Platform\n" } }, true },
        { "hyper-v product", { { dmi + "product_name", "Virtual Machine\n" } }, true },
        // Capitals, which lower-case alike in every locale.
        { "capitals", { { "etc/os-release", "NAME=X\n" }, { dmi + "product_name", "VIRTUAL MACHINE\n" },
                          { dmi + "sys_vendor", "TO BE FILLED BY O.E.M.\n" }, { dmi + "product_serial", "SYSTEM SERIAL NUMBER\n" } },
            true, Facts { "X", std::nullopt, std::nullopt, std::nullopt } },
        { "cpu flag", { { "proc/cpuinfo", "flags\t: fpu sse2 hypervisor\n" } }, true }, { "docker", { { ".dockerenv", "" } }, true },
        { "podman", { { "run/.containerenv", "" } }, true },
        { "systemd-nspawn", { { "proc/1/environ", std::string("PATH=/bin\0container=systemd-nspawn\0", 35) } }, true },
        { "laptop", { { dmi + "product_name", "ThinkPad X1 Carbon\n" } }, false },
        { "flag lookalike", { { "proc/cpuinfo", "flags\t: fpu hypervisor_x\n" } }, false } };
    // Also under Turkish case rules: the C library's tolower() keeps "I" there.
    const std::string saved = std::setlocale(LC_CTYPE, nullptr);
    for (const char* locale : { "C", "tr_TR.UTF-8" }) {
        if (!std::setlocale(LC_CTYPE, locale)) {
            ADD_FAILURE() << locale << " is not installed (scripts/deps.sh makes it)";
            continue;
        }
        for (const auto& c : cases) {
            FakeAppEnvironment root;
            for (const auto& [file, content] : c.files)
                root.writeResource(file, content);
            auto facts = LinuxDeviceFacts(root.resourcePath(), "x86_64").read();
            EXPECT_EQ(facts.isVirtual, c.isVirtual) << c.name << " " << locale;
            if (c.facts) {
                EXPECT_EQ((Facts { facts.platform, facts.version, facts.manufacturer, facts.serial }), *c.facts) << c.name << " " << locale;
            }
        }
    }
    std::setlocale(LC_CTYPE, saved.c_str());
}

} // namespace
