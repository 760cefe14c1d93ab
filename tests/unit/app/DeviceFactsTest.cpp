// Device facts read from a fixture tree laid out like a Linux root (the resources folder of a
// stand-in environment).
#include <array>
#include <clocale>
#include <gtest/gtest.h>
#include <map>
#include <tuple>

#include "platform/glib/LinuxDeviceFacts.h"
#include "support/TestPlatform.h"

using penwick::platform::LinuxDeviceFacts;
using Map = std::map<std::string, std::string>;

TEST(DeviceFacts, OsReleaseFieldsLoseTheirQuotesAndFixtureTreesGiveTheFactsAndTheVirtualMachines)
{
    EXPECT_EQ(LinuxDeviceFacts::parseOsRelease("# comment\nNAME=\"Debian GNU/Linux\"\nVERSION_ID='12'\n"
                                               "ID=debian\n  PRETTY_NAME=\"say \\\"hi\\\"\"\nbroken line\n=x\nEMPTY=\n"),
        (Map { { "NAME", "Debian GNU/Linux" }, { "VERSION_ID", "12" }, { "ID", "debian" }, { "PRETTY_NAME", "say \"hi\"" },
            { "EMPTY", "" } }));

    // What a tree gives, what missing or placeholder sources leave out, and which trees are of a
    // virtual machine or a container.
    using Facts = std::array<std::optional<std::string>, 4>; // platform, version, manufacturer, serial; {} for none
    const std::string dmi = "sys/class/dmi/id/", product = dmi + "product_name";
    const std::string vendor = dmi + "sys_vendor", serial = dmi + "product_serial";
    // The tree's name, its files, whether it is of a virtual machine or a container, and the facts it gives where they matter.
    const std::tuple<const char*, Map, bool, std::optional<Facts>> cases[] = { { "docker", { { ".dockerenv", "" } }, true, {} },
        { "fedora", { { "etc/os-release", "NAME=\"Fedora Linux\"\nVERSION_ID=40\n" }, { vendor, "LENOVO\n" }, { serial, " PF2ABCDE \n" } },
            false, Facts { "Fedora Linux", "40", "LENOVO", "PF2ABCDE" } },
        // Rolling: no VERSION_ID.
        { "arch", { { "usr/lib/os-release", "NAME=Arch Linux\n" }, { vendor, "To Be Filled By O.E.M.\n" }, { serial, "\n" } }, false,
            Facts { "Arch Linux", {}, {}, {} } },
        { "kvm vendor", { { vendor, "QEMU\n" } }, true, {} }, { "virtualbox", { { product, "VirtualBox\n" } }, true, {} },
        { "vmware product", { { product, "VMware Virtual Platform\n" } }, true, {} },
        { "hyper-v product", { { product, "Virtual Machine\n" } }, true, {} },
        // Capitals, which lower-case alike in every locale.
        { "capitals",
            { { "etc/os-release", "NAME=X\n" }, { product, "VIRTUAL MACHINE\n" }, { vendor, "TO BE FILLED BY O.E.M.\n" },
                { serial, "SYSTEM SERIAL NUMBER\n" } },
            true, Facts { "X", {}, {}, {} } },
        { "cpu flag", { { "proc/cpuinfo", "flags\t: fpu sse2 hypervisor\n" } }, true, {} },
        { "podman", { { "run/.containerenv", "" } }, true, {} },
        { "systemd-nspawn", { { "proc/1/environ", std::string("PATH=/bin\0container=systemd-nspawn\0", 35) } }, true, {} },
        { "laptop", { { product, "ThinkPad X1 Carbon\n" } }, false, {} },
        { "flag lookalike", { { "proc/cpuinfo", "flags\t: fpu hypervisor_x\n" } }, false, {} } };
    // Also under Turkish case rules: the C library's tolower() keeps "I" there.
    const std::string saved = std::setlocale(LC_CTYPE, nullptr);
    for (const char* locale : { "C", "tr_TR.UTF-8" }) {
        if (!std::setlocale(LC_CTYPE, locale)) {
            ADD_FAILURE() << locale << " is not installed (scripts/deps.sh makes it)";
            continue;
        }
        for (const auto& [name, files, isVirtual, expected] : cases) {
            SCOPED_TRACE(std::string(name) + " under " + locale);
            penwick::test::FakeAppEnvironment root;
            for (const auto& [file, content] : files)
                root.writeResource(file, content);
            auto facts = LinuxDeviceFacts(root.resourcePath(), "x86_64").read();
            EXPECT_EQ(facts.isVirtual, isVirtual);
            if (expected)
                EXPECT_EQ((Facts { facts.platform, facts.version, facts.manufacturer, facts.serial }), *expected);
        }
    }
    std::setlocale(LC_CTYPE, saved.c_str());
}
