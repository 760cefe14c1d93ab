// The page channel in the real app: a call or a byte answer too large for it fails alone, frames
// that come and go do not pile up script contexts in the host, attacks on its socket leave the host
// serving and small, a lost web process is replaced (lost twice, it leaves a page that reloads),
// and the socket's folder goes when the host ends on a signal or, if killed, at the next start.
#include "e2e/E2E.h"
#include <set>
#include <sys/resource.h>
#include <sys/un.h>

namespace {

TEST(Channel, ACallTooLargeForTheChannelFailsAloneAndHundredsOfFrameNavigationsKeepOneContextPerFrame)
{
    AppRunner app(AppRunner::Binary::TestApp);
    app.setEnv("PENWICK_TEST_CHANNEL_LIMIT", "65536");
    app.startPages("channel", "navigate.html", { "child.html" });
    ASSERT_TRUE(lineAppears(app, ": main frame answered still here", 120s));
    // Three echoes: nearly the limit, "small" and "still here"; the oversized call reached no action.
    // The host would say so when one page held 64 live contexts or more.
    EXPECT_TRUE(counted(app, { { "ERROR: a call to Echo.echo carried 1000", 1 },
        { "bytes, more than the page channel's limit of 65536 bytes; it was refused.", 1 }, { "oversized call failed: the call's arguments (1000", 1 },
        { "large answer whole: true", 1 }, { "then answered small", 1 },
        { "oversized bytes failed: the answer is too large for the host's page channel (a NativeCallback frame of 70", 1 },
        { "ERROR: the answer to callback Echo", 1 }, { "bytes within the limit: 60000 95", 1 }, { "echo: ", 3 }, { "live script contexts", 0 },
        { "no longer serves", 0 } }));
}

// How many channel folders the app's temporary folder holds, as an attacker of the same user finds them.
int channelFolders(const AppRunner& app) { return std::stoi(AppRunner::capture("ls -d " + app.path("tmp/penwick-*") + " | wc -l")); }

int connectTo(const std::string& path)
{
    sockaddr_un address { AF_UNIX, {} };
    std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
    int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK, 0);
    if (fd >= 0 && connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0)
        return close(fd), -1;
    return fd;
}

// User and system CPU time in seconds.
double cpuSeconds(int pid)
{
    std::string stat = AppRunner::readFile("/proc/" + std::to_string(pid) + "/stat");
    unsigned long utime = 0, stime = 0;
    std::sscanf(stat.c_str() + stat.rfind(')') + 2, "%*c %*d %*d %*d %*d %*d %*u %*u %*u %*u %*u %lu %lu", &utime, &stime);
    return double(utime + stime) / double(sysconf(_SC_CLK_TCK));
}

int openDescriptors(int pid) { return int(std::distance(std::filesystem::directory_iterator("/proc/" + std::to_string(pid) + "/fd"), {})); }

// Connects again and again for `duration`, keeping up to 400 connections; they close with it.
struct Crowd {
    std::vector<int> fds;
    Crowd(const std::string& path, std::chrono::milliseconds duration)
    {
        for (auto end = std::chrono::steady_clock::now() + duration; std::chrono::steady_clock::now() < end;) {
            if (const int fd = fds.size() < 400 ? connectTo(path) : -1; fd >= 0)
                fds.push_back(fd);
            else
                std::this_thread::sleep_for(5ms);
        }
    }
    ~Crowd()
    {
        for (int fd : fds)
            close(fd);
    }
};

// The strings of 32 hexadecimal digits in the writable memory of `pid`, a web process's token among
// them: a web process taken over by its page reads its own.
std::set<std::string> hexStringsIn(pid_t pid)
{
    std::set<std::string> found;
    std::ifstream maps("/proc/" + std::to_string(pid) + "/maps");
    int mem = open(("/proc/" + std::to_string(pid) + "/mem").c_str(), O_RDONLY);
    unsigned long from, to;
    char perms[5];
    for (std::string line; std::getline(maps, line);) {
        if (sscanf(line.c_str(), "%lx-%lx %4s", &from, &to, perms) != 3 || perms[1] != 'w' || to - from > (256ul << 20))
            continue;
        std::string bytes(to - from, '\0');
        if (pread(mem, bytes.data(), bytes.size(), off_t(from)) <= 0)
            continue;
        for (std::size_t i = 0, run = 0; i < bytes.size(); ++i) {
            run = std::isdigit(bytes[i]) || (bytes[i] >= 'a' && bytes[i] <= 'f') ? run + 1 : 0;
            if (run == 32 && i + 1 < bytes.size() && bytes[i + 1] == '\0')
                found.insert(bytes.substr(i - 31, 32));
        }
    }
    close(mem);
    return found;
}

// A host killed outright leaves a folder named after its pid behind, with its engine's temporary files.
std::string leftFolder(const AppRunner& app, pid_t pid)
{
    std::string folder = app.path("tmp/penwick-") + std::to_string(pid) + "-abc123";
    g_mkdir_with_parents((folder + "/tmp").c_str(), 0700);
    g_file_set_contents((folder + "/bridge").c_str(), "", 0, nullptr);
    g_file_set_contents((folder + "/tmp/FileSystemWritableStream-abc123").c_str(), "kept", -1, nullptr);
    return folder;
}

// The socket's folder goes on a signal, and a killed host's at the next start. (The other signals,
// met while a dialog is open, are the desktop test's.)
TEST(Channel, AttacksOnTheSocketLeaveTheHostServingAndSmallAndALostWebProcessIsReplacedAndTheSocketFolderGoes)
{
    // A process that is gone: its child object kills and reaps it at once.
    const pid_t dead = Child({ "true" }).pid;
    AppRunner app(AppRunner::Binary::TestApp);
    const std::string stale = leftFolder(app, dead), live = leftFolder(app, getpid());
    ASSERT_EQ(symlink(live.c_str(), (app.path("tmp/penwick-") + std::to_string(dead) + "-lnk123").c_str()), 0);
    app.startPages("channel", "attack.html");
    ASSERT_TRUE(lineAppears(app, ": answered 3", 60s));
    EXPECT_FALSE(std::filesystem::exists(stale));
    EXPECT_TRUE(std::filesystem::exists(live + "/bridge"));
    // The live host's folder, the link to it and the new host's own.
    ASSERT_EQ(channelFolders(app), 3) << app.output();
    const std::string socketPath = AppRunner::capture("printf %s " + app.path("tmp/penwick-") + std::to_string(app.pid()) + "-*/bridge");
    ASSERT_TRUE(std::filesystem::exists(socketPath)) << socketPath;
    const long startKb = AppRunner::statusKiB(app.pid(), "VmRSS");
    const int startFds = openDescriptors(app.pid());

    // Writes one first frame, announcing `length` bytes (the payload's own by default), and sees the
    // host close the connection.
    auto refused = [&](const std::string& payload, std::optional<std::uint32_t> length = {}) {
        const std::uint32_t header[6] = { length.value_or(std::uint32_t(payload.size())), 1 };
        const std::string bytes = std::string(reinterpret_cast<const char*>(header), sizeof header) + payload;
        int fd = connectTo(socketPath);
        pollfd closed { fd, POLLIN, 0 };
        char c;
        EXPECT_EQ(write(fd, bytes.data(), bytes.size()), ssize_t(bytes.size()));
        EXPECT_TRUE(poll(&closed, 1, 5000) == 1 && read(fd, &c, 1) == 0);
        close(fd);
    };
    struct Attack {
        const char* name;
        std::function<void()> run;
        const char* logged;
    } attacks[] = {
        { "hellos announcing 256 MiB",
            [&] {
                // The host closes the connection on the header, before any of the payload.
                for (int i = 0; i < 3; ++i)
                    refused({}, 256u << 20);
            },
            "refused a connection to the page channel: the web process sent a frame the host does not understand (a first frame carries at "
            "most 4096 bytes)" },
        { "a hello with the wrong token", [&] { refused("{\"version\":1,\"token\":\"guess\",\"pid\":1}"); },
            "refused a connection to the page channel: a process without the host's token tried the page channel" },
        { "a hello of the wrong types", [&] { refused("{\"version\":\"one\",\"token\":5}"); },
            "refused a connection to the page channel: the web process sent a frame the host cannot read" },
        { "a second connection with a web process's own token",
            [&] {
                for (pid_t web : app.webProcesses())
                    for (const auto& token : hexStringsIn(web))
                        refused("{\"version\":1,\"token\":\"" + token + "\",\"pid\":1}");
            },
            "refused a connection to the page channel with the token of a web process that has one" },
        { "many silent connections",
            [&] {
                Crowd crowd(socketPath, 1500ms);
                EXPECT_GT(crowd.fds.size(), 16u);
                // Those waiting to introduce themselves are few; the rest wait in the queue.
                EXPECT_LE(openDescriptors(app.pid()), startFds + 16 + 4);
            },
            "refused a connection to the page channel: 16 connections were already waiting to introduce themselves" },
        { "no descriptors left",
            [&] {
                rlimit limit {};
                ASSERT_EQ(prlimit(app.pid(), RLIMIT_NOFILE, nullptr, &limit), 0);
                const rlimit low { rlim_t(openDescriptors(app.pid()) + 2), limit.rlim_max };
                ASSERT_EQ(prlimit(app.pid(), RLIMIT_NOFILE, &low, nullptr), 0);
                Crowd crowd(socketPath, 500ms);
                double cpu = cpuSeconds(app.pid());
                Crowd more(socketPath, 1000ms);
                // A listener that spins takes the whole second.
                EXPECT_LT(cpuSeconds(app.pid()) - cpu, 0.5);
                ASSERT_EQ(prlimit(app.pid(), RLIMIT_NOFILE, &limit, nullptr), 0);
            },
            "the page channel cannot accept a connection: Too many open files" },
    };
    for (auto& attack : attacks) {
        attack.run();
        // The host logs a refusal just after closing the connection.
        EXPECT_TRUE(lineAppears(app, attack.logged)) << attack.name;
        int answered = app.countLines(": answered ");
        EXPECT_TRUE(AppRunner::waitUntil([&] { return app.countLines(": answered ") >= answered + 2; }, 20s))
            << attack.name << "\n" << app.output();
        EXPECT_LT(AppRunner::statusKiB(app.pid(), "VmRSS"), startKb + 50 * 1024) << attack.name;
    }
    // Hundreds were refused, but the log says so in a few lines a second.
    EXPECT_LE(app.countLines("refused a connection to the page channel"), 100);
    // The host reloads the page after losing its web process; the new one gets its bridge and
    // reaches the same plugin.
    auto processes = app.webProcesses();
    ASSERT_FALSE(processes.empty());
    for (pid_t web : processes)
        ::kill(web, SIGKILL);
    EXPECT_TRUE(lineAppears(app, ": page loaded 2"));
    // Lost again at once: the host does not loop, it shows a page that reloads on F5.
    for (pid_t web : app.webProcesses())
        ::kill(web, SIGKILL);
    ASSERT_TRUE(lineAppears(app, "again right after a reload; showing a page that offers to reload"));
    EXPECT_TRUE(retried(app, [&] { (void)app.press("F5"); }, ": page loaded 3", 30s));
    ::kill(app.pid(), SIGTERM);
    EXPECT_EQ(app.waitForExit(20s), 0) << app.output();
    EXPECT_EQ(channelFolders(app), 2);
}

} // namespace
