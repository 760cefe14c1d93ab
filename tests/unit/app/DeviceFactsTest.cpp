// Device facts read from a fixture tree laid out like a Linux root.
#include <filesystem>
#include <fstream>
#include <map>
#include <gtest/gtest.h>
#include <unistd.h>

#include "platform/glib/LinuxDeviceFacts.h"

namespace fs = std::filesystem;
using penwick::platform::LinuxDeviceFacts;

namespace {

class FixtureRoot {
public:
    FixtureRoot() : m_root(fs::temp_directory_path() / ("penwick-facts-" + std::to_string(::getpid()) + "-" + std::to_string(s_next++))) { }
    ~FixtureRoot() { fs::remove_all(m_root); }
    void write(const std::string& relative, const std::string& content) const
    {
        fs::create_directories((m_root / relative).parent_path());
        std::ofstream(m_root / relative, std::ios::binary) << content;
    }
    std::string path() const { return m_root.string(); }

private:
    static inline int s_next = 0;
    fs::path m_root;
};

TEST(OsRelease, FieldsLoseTheirQuotesAndEscapes)
{
    auto fields = LinuxDeviceFacts::parseOsRelease("# comment\nNAME=\"Debian GNU/Linux\"\nVERSION_ID='12'\n"
                                                   "ID=debian\n  PRETTY_NAME=\"say \\\"hi\\\"\"\nbroken line\n=x\nEMPTY=\n");
    EXPECT_EQ(fields, (std::map<std::string, std::string> { { "NAME", "Debian GNU/Linux" }, { "VERSION_ID", "12" },
                          { "ID", "debian" }, { "PRETTY_NAME", "say \"hi\"" }, { "EMPTY", "" } }));
}

TEST(DeviceFacts, ReadsTheFixtureTree)
{
    FixtureRoot root;
    root.write("etc/os-release", "NAME=\"Fedora Linux\"\nVERSION_ID=40\n");
    root.write("sys/class/dmi/id/sys_vendor", "LENOVO\n");
    root.write("sys/class/dmi/id/product_name", "20XW\n");
    root.write("sys/class/dmi/id/product_serial", " PF2ABCDE \n");
    root.write("proc/cpuinfo", "processor\t: 0\nflags\t\t: fpu vme sse2\n");
    auto facts = LinuxDeviceFacts(root.path(), "x86_64").read();
    EXPECT_EQ(facts.model, "x86_64");
    EXPECT_EQ(facts.platform, "Fedora Linux");
    EXPECT_EQ(facts.version, "40");
    EXPECT_EQ(facts.manufacturer, "LENOVO");
    EXPECT_EQ(facts.serial, "PF2ABCDE");
    EXPECT_FALSE(facts.isVirtual);
}

TEST(DeviceFacts, MissingOrPlaceholderSourcesLeaveTheirValuesOut)
{
    FixtureRoot root;
    root.write("usr/lib/os-release", "NAME=Arch Linux\n"); // rolling: no VERSION_ID
    root.write("sys/class/dmi/id/sys_vendor", "To Be Filled By O.E.M.\n");
    root.write("sys/class/dmi/id/product_serial", "\n");
    auto facts = LinuxDeviceFacts(root.path(), "aarch64").read();
    EXPECT_EQ(facts.platform, "Arch Linux");
    EXPECT_FALSE(facts.version);
    EXPECT_FALSE(facts.manufacturer);
    EXPECT_FALSE(facts.serial);
}

TEST(DeviceFacts, VirtualMachinesAndContainersAreRecognised)
{
    const struct {
        const char* name;
        const char* file;
        std::string content;
        bool isVirtual;
    } cases[] = {
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
        FixtureRoot root;
        root.write(c.file, c.content);
        EXPECT_EQ(LinuxDeviceFacts(root.path(), "x86_64").read().isVirtual, c.isVirtual) << c.name;
    }
}

} // namespace
