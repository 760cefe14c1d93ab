// The app's start-up and idle memory beside a bare WebKitGTK host (bench_bare_host), in one run
// under the current X display, both showing the same small page from a file: URL and painting
// under the same policy (printed: on the CPU without a GPU, the engine's default with one):
//   - start -> load -> exit: the app with --dump-dom against the bare host doing the same (load,
//     settle, write the page's HTML, exit), from the fork to the exit; pairs alternate which runs
//     first, and the medians are compared;
//   - idle memory: the proportional set size (PSS) of each host's processes together (the UI
//     process, its web and network processes, their sandbox helpers), a few seconds after the page
//     has loaded; medians of a few starts of each, alternating.
// Run: DISPLAY=:99 ./bench/e2e/bench_startup_e2e   (PENWICK_BENCH_PAIRS sets the pairs, default 12)
#include "BenchFiles.h"
#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <glib.h>
#include <map>
#include <optional>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
using penwick::bench::writeFile;

std::vector<std::string> g_environment;

// Starts `argv` with the bench's environment, its output in a pipe (or dropped); -1 on failure.
pid_t spawn(const std::vector<std::string>& argv, int* output)
{
    int out[2];
    if (pipe(out) != 0)
        return -1;
    pid_t pid = fork();
    if (pid == 0) {
        int null = open("/dev/null", O_WRONLY);
        dup2(output ? out[1] : null, STDOUT_FILENO);
        dup2(output ? out[1] : null, STDERR_FILENO);
        close(out[0]);
        penwick::bench::execInChild(g_environment, argv);
    }
    close(out[1]);
    if (output) {
        fcntl(out[0], F_SETFL, O_NONBLOCK);
        *output = out[0];
    } else
        close(out[0]);
    return pid;
}

// Seconds from start to exit of one run that must exit 0 and write `dump`; none on failure.
std::optional<double> timedRun(const std::vector<std::string>& argv, const std::string& dump)
{
    unlink(dump.c_str());
    auto start = Clock::now();
    pid_t pid = spawn(argv, nullptr);
    int status = 0;
    if (pid < 0 || waitpid(pid, &status, 0) != pid)
        return std::nullopt;
    double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0 || access(dump.c_str(), R_OK) != 0) {
        std::fprintf(stderr, "%s did not load and exit cleanly (status %d)\n", argv[0].c_str(), status);
        return std::nullopt;
    }
    return seconds;
}

// The process and all its descendants.
std::vector<pid_t> processTree(pid_t root)
{
    std::map<pid_t, std::vector<pid_t>> children;
    if (DIR* proc = opendir("/proc")) {
        while (dirent* entry = readdir(proc)) {
            pid_t pid = std::atoi(entry->d_name);
            if (pid <= 0)
                continue;
            std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
            std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
            auto close = text.rfind(')');
            if (close == std::string::npos)
                continue;
            char state = 0;
            int parent = 0;
            if (std::sscanf(text.c_str() + close + 1, " %c %d", &state, &parent) == 2)
                children[parent].push_back(pid);
        }
        closedir(proc);
    }
    std::vector<pid_t> tree { root };
    for (size_t i = 0; i < tree.size(); ++i)
        for (pid_t child : children[tree[i]])
            tree.push_back(child);
    return tree;
}

// The summed PSS of the process tree in KiB.
long treePssKiB(pid_t root)
{
    long total = 0;
    for (pid_t pid : processTree(root)) {
        std::ifstream rollup("/proc/" + std::to_string(pid) + "/smaps_rollup");
        std::string line;
        while (std::getline(rollup, line))
            if (line.rfind("Pss:", 0) == 0)
                total += std::atol(line.c_str() + 4);
    }
    return total;
}

void stop(pid_t pid)
{
    kill(pid, SIGTERM);
    for (int i = 0; i < 100; ++i) {
        if (waitpid(pid, nullptr, WNOHANG) == pid)
            return;
        usleep(20000);
    }
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
}

// The PSS of a host's processes once it has shown the page ("LOADED" in its output) and then sat
// idle for a while; -1 on failure.
long idlePssKiB(const std::vector<std::string>& argv)
{
    int out = -1;
    pid_t pid = spawn(argv, &out);
    if (pid < 0)
        return -1;
    std::string pending;
    bool loaded = false;
    for (auto deadline = Clock::now() + std::chrono::seconds(120); !loaded && Clock::now() < deadline;) {
        char buffer[4096];
        ssize_t n = read(out, buffer, sizeof buffer);
        if (n == 0)
            break;
        if (n > 0)
            pending.append(buffer, static_cast<size_t>(n));
        loaded = pending.find("LOADED") != std::string::npos;
        usleep(10000);
    }
    long pss = -1;
    if (loaded) {
        // Settled: start-up work done, caches as they stay.
        sleep(5);
        pss = treePssKiB(pid);
    } else
        std::fprintf(stderr, "%s did not load its page:\n%s\n", argv[0].c_str(), pending.c_str());
    stop(pid);
    close(out);
    return pss;
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

const char* verdict(bool met) { return met ? "met" : "MISSED"; }

} // namespace

int main()
{
    char* rootDir = g_dir_make_tmp("penwick-startbench-XXXXXX", nullptr);
    std::string root = rootDir;
    g_free(rootDir);
    for (const char* sub : { "/home", "/config", "/data", "/cache", "/tmp", "/runtime" })
        g_mkdir_with_parents((root + sub).c_str(), 0700);
    g_environment = { "HOME=" + root + "/home", "XDG_CONFIG_HOME=" + root + "/config", "XDG_DATA_HOME=" + root + "/data",
        "XDG_CACHE_HOME=" + root + "/cache", "TMPDIR=" + root + "/tmp", "XDG_RUNTIME_DIR=" + root + "/runtime",
        // Alone, not handed to an instance of the same id that the user runs.
        "DBUS_SESSION_BUS_ADDRESS=" };
    std::string resources = root + "/resources";
    writeFile(resources + "/config.xml", "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<widget id=\"org.penwick.StartBench\">\n"
                                         "<content src=\"start.html\"/>\n</widget>\n");
    // A small page of the kind an app starts with: markup, style, a script that says it has loaded.
    writeFile(resources + "/www/start.html",
        "<!DOCTYPE html><html><head><meta charset=\"utf-8\"><title>Start</title>"
        "<style>body { font: 15px sans-serif; margin: 2em } li { padding: .2em }</style></head><body>"
        "<h1>Notes</h1><ul id=\"list\"></ul><script>"
        "for (var i = 0; i < 50; i++) { var li = document.createElement('li'); li.textContent = 'Note ' + i; "
        "document.getElementById('list').appendChild(li); }"
        "addEventListener('load', function () { console.log('LOADED'); });</script></body></html>\n");
    const std::string page = "file://" + resources + "/www/start.html", dump = root + "/dom.html";
    const std::vector<std::string> appDump { PENWICK_APP, "--resources", resources, "--dump-dom", dump };
    const std::vector<std::string> bareDump { PENWICK_BARE_HOST, page, "--dump-dom", dump };

    int pairs = 12;
    if (const char* value = g_getenv("PENWICK_BENCH_PAIRS"); value && std::atoi(value) > 0)
        pairs = std::atoi(value);
    std::fprintf(stderr, "%d start-up pairs...\n", pairs);
    // One of each first, unmeasured: the disk cache and the engine's caches warm alike.
    if (!timedRun(appDump, dump) || !timedRun(bareDump, dump))
        return 1;
    std::vector<double> app, bare;
    for (int i = 0; i < pairs; ++i) {
        bool appFirst = i % 2 == 0;
        auto first = timedRun(appFirst ? appDump : bareDump, dump);
        auto second = timedRun(appFirst ? bareDump : appDump, dump);
        if (!first || !second)
            return 1;
        app.push_back(appFirst ? *first : *second);
        bare.push_back(appFirst ? *second : *first);
    }
    double startRatio = median(app) / median(bare);

    std::fprintf(stderr, "idle memory...\n");
    const std::vector<std::string> appIdle { PENWICK_APP, "--resources", resources };
    const std::vector<std::string> bareIdle { PENWICK_BARE_HOST, page, "--idle" };
    std::vector<double> appPss, barePss;
    for (int i = 0; i < 3; ++i) {
        long a = idlePssKiB(i % 2 ? bareIdle : appIdle), b = idlePssKiB(i % 2 ? appIdle : bareIdle);
        if (a < 0 || b < 0)
            return 1;
        appPss.push_back((i % 2 ? b : a) / 1024.0);
        barePss.push_back((i % 2 ? a : b) / 1024.0);
    }
    double pssRatio = median(appPss) / median(barePss);
    std::error_code ignored;
    std::filesystem::remove_all(root, ignored);

    std::printf("painting: %s\n", penwick::bench::paintingPolicy());
    std::printf("start -> load -> exit, app          %8.0f ms   bare WebKitGTK host %.0f ms (medians of %d pairs)\n",
        median(app) * 1000, median(bare) * 1000, pairs);
    std::printf("  app at %.2fx of the bare host (target <= 1.05x): %s\n", startRatio, verdict(startRatio <= 1.05));
    std::printf("idle PSS, all processes, app        %8.1f MiB   bare WebKitGTK host %.1f MiB (medians of 3 starts)\n",
        median(appPss), median(barePss));
    std::printf("  app at %.2fx of the bare host (target <= 1.05x): %s\n", pssRatio, verdict(pssRatio <= 1.05));
    return 0;
}
