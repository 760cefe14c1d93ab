// End-to-end figures of the page's file system, measured side by side in one run under the
// current X display with the test build of the app:
//   - readAsArrayBuffer of a 16 MiB file through the bridge against a fetch of it over whfile, and
//     one 64 MiB answer through the bridge;
//   - a fetch of a 256 MiB file over whfile against the same over file:// (from the web content
//     folder), their runs alternating;
//   - the UI process's peak memory growth while the page fetches a 1 GiB file over whfile, first,
//     before anything else has grown its heap: its peak resident size (VmHWM, reset when the
//     fetch starts, and the sampled VmRSS) against its resident size when the fetch starts;
//   - the same growth while the page reads a 200 MiB file 16 times at once with readAsArrayBuffer
//     (the read budget of 512 MiB plus 256 MiB at most), and the slowest round trip of a small
//     call meanwhile;
//   - the same growth over 20 s after the page starts 1,500 fetches of a 64 MiB file and reads
//     none of their bodies.
// Run: DISPLAY=:99 ./bench/e2e/bench_file_e2e
#include "BenchFiles.h"
#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <fstream>
#include <glib.h>
#include <nlohmann/json.hpp>
#include <optional>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

std::string format(const char* pattern, double a, double b, double c)
{
    char text[160];
    std::snprintf(text, sizeof text, pattern, a, b, c);
    return text;
}

using Clock = std::chrono::steady_clock;

using penwick::bench::readFile;
using penwick::bench::writeFile;

// A file of `size` bytes with real blocks, so reads touch the disk cache, not a hole.
bool writeFilled(const std::string& path, size_t size)
{
    int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (fd < 0)
        return false;
    std::string block(1 << 20, 'x');
    for (size_t done = 0; done < size; done += block.size()) {
        if (write(fd, block.data(), block.size()) != static_cast<ssize_t>(block.size())) {
            close(fd);
            return false;
        }
    }
    close(fd);
    return true;
}

// A "Vm...:" figure of /proc/<pid>/status in KiB, or -1.
long statusKiB(pid_t pid, const std::string& field)
{
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind(field + ":", 0) == 0)
            return std::atol(line.c_str() + field.size() + 1);
    }
    return -1;
}

// Sets the process's peak resident size (VmHWM) back to its current size, so that the peak read
// later is the peak of what followed.
bool resetPeak(pid_t pid) { return static_cast<bool>(std::ofstream("/proc/" + std::to_string(pid) + "/clear_refs") << "5"); }

} // namespace

int main()
{
    char* rootDir = g_dir_make_tmp("penwick-filebench-XXXXXX", nullptr);
    std::string root = rootDir;
    g_free(rootDir);
    std::string data = root + "/data/" + PENWICK_APP_ID + "/files";
    g_mkdir_with_parents(data.c_str(), 0700);
    for (const char* sub : { "/home", "/config", "/cache", "/tmp" })
        g_mkdir_with_parents((root + sub).c_str(), 0700);
    std::fprintf(stderr, "writing 1.5 GiB of test files...\n");
    const size_t MiB = 1 << 20;
    if (!writeFilled(data + "/f16", 16 * MiB) || !writeFilled(data + "/f64", 64 * MiB) || !writeFilled(data + "/f256", 256 * MiB)
        || !writeFilled(data + "/f1024", 1024 * MiB) || !writeFilled(data + "/f200", 200 * MiB)) {
        std::fprintf(stderr, "cannot write the test files under %s\n", root.c_str());
        return 1;
    }
    std::string resources = root + "/resources";
    writeFile(resources + "/config.xml", "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<widget id=\"b\">\n"
                                         "<content src=\"file-bench.html\"/>\n"
                                         "<feature name=\"File\"><param name=\"osx-package\" value=\"WHFile\"/>"
                                         "<param name=\"onload\" value=\"true\"/></feature>\n</widget>\n");
    writeFile(resources + "/www/bench-data.js", "var DATA = 'file://" + resources + "/www';\n");
    for (const char* library : { "webhost/webhost.js", "webhost/file.js" })
        writeFile(resources + "/www/" + library, readFile(std::string(PENWICK_SOURCE_DIR) + "/www/" + library));
    writeFile(resources + "/www/file-bench.html", readFile(std::string(PENWICK_BENCH_PAGES) + "/file-bench.html"));
    auto removeFiles = [&] {
        for (const char* name : { "/f16", "/f64", "/f256", "/f1024", "/f200" })
            unlink((data + name).c_str());
        unlink((resources + "/www/f256").c_str());
    };
    // The file:// comparison reads the same bytes from inside the web content folder.
    if (link((data + "/f256").c_str(), (resources + "/www/f256").c_str()) != 0) {
        std::fprintf(stderr, "cannot link the 256 MiB file into %s/www\n", resources.c_str());
        removeFiles();
        return 1;
    }

    int out[2];
    if (pipe(out) != 0)
        return 1;
    pid_t pid = fork();
    if (pid == 0) {
        dup2(out[1], STDOUT_FILENO);
        dup2(out[1], STDERR_FILENO);
        close(out[0]);
        for (std::string e : { "HOME=" + root + "/home", "XDG_CONFIG_HOME=" + root + "/config", "XDG_DATA_HOME=" + root + "/data",
                 "XDG_CACHE_HOME=" + root + "/cache", "TMPDIR=" + root + "/tmp", "XDG_RUNTIME_DIR=" + root + "/runtime",
                 // Alone, not handed to an instance of the same id that the user runs.
                 std::string("DBUS_SESSION_BUS_ADDRESS=") })
            putenv(strdup(e.c_str()));
        execl(PENWICK_TESTAPP, PENWICK_TESTAPP, "--resources", resources.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    close(out[1]);
    fcntl(out[0], F_SETFL, O_NONBLOCK);
    std::optional<nlohmann::json> report;
    std::string pending;
    // The UI process's resident size between a page's start and end marks: at the start, and the
    // peak (VmHWM, reset at the start, and the sampled VmRSS).
    struct Watch {
        long baseline = -1, peak = -1;
        bool peakWasReset = false;
    };
    Watch fetch1GiB, reads, unread;
    Watch* watching = nullptr;
    // Generous: on a busy machine the 1 GiB runs alone take minutes.
    auto deadline = Clock::now() + std::chrono::seconds(600);
    while (!report && Clock::now() < deadline) {
        char buffer[4096];
        ssize_t n = read(out[0], buffer, sizeof buffer);
        if (n == 0)
            break;
        if (n > 0)
            pending.append(buffer, static_cast<size_t>(n));
        size_t nl;
        while (!report && (nl = pending.find('\n')) != std::string::npos) {
            std::string line = pending.substr(0, nl);
            pending.erase(0, nl + 1);
            bool starts = line.find("MEM-START") != std::string::npos || line.find("UNREAD-START") != std::string::npos
                || line.find("READS-START") != std::string::npos;
            if (starts) {
                watching = line.find("UNREAD") != std::string::npos ? &unread
                    : line.find("READS") != std::string::npos     ? &reads
                                                                  : &fetch1GiB;
                watching->peakWasReset = resetPeak(pid);
                watching->baseline = watching->peak = statusKiB(pid, "VmRSS");
            } else if (watching && (line.find("MEM-END") != std::string::npos || line.find("UNREAD-END") != std::string::npos
                                       || line.find("READS-END") != std::string::npos)) {
                if (watching->peakWasReset)
                    watching->peak = std::max(watching->peak, statusKiB(pid, "VmHWM"));
                watching = nullptr;
            } else if (auto at = line.find("BENCH "); at != std::string::npos)
                report = nlohmann::json::parse(line.substr(at + 6), nullptr, false);
            else if (g_getenv("PENWICK_BENCH_VERBOSE"))
                std::fprintf(stderr, "  %s\n", line.c_str());
        }
        if (watching)
            watching->peak = std::max(watching->peak, statusKiB(pid, "VmRSS"));
        usleep(5000);
    }
    kill(pid, SIGTERM);
    usleep(200000);
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
    close(out[0]);
    removeFiles();

    if (!report || report->contains("error")) {
        std::fprintf(stderr, "no report: %s\n", report ? report->dump().c_str() : "(timed out)");
        return 1;
    }
    auto ms = [&](const char* key) { return (*report)[key].get<double>(); };
    auto verdict = [](bool met) { return met ? "met" : "MISSED"; };
    double ratio16 = ms("readAsArrayBuffer16MiB") / ms("fetchWhfile16MiB");
    double mbps256 = 256.0 / (ms("fetchWhfile256MiB") / 1000.0);
    double fileMbps256 = 256.0 / (ms("fetchFile256MiB") / 1000.0);
    std::printf("readAsArrayBuffer 16 MiB            %8.1f ms\n", ms("readAsArrayBuffer16MiB"));
    std::printf("fetch whfile 16 MiB                 %8.1f ms\n", ms("fetchWhfile16MiB"));
    std::printf("  readAsArrayBuffer at %.2fx of the whfile fetch (target <= 3x): %s\n", ratio16, verdict(ratio16 <= 3));
    std::printf("readAsArrayBuffer 64 MiB            %8.1f ms\n", ms("readAsArrayBuffer64MiB"));
    std::printf("fetch whfile 256 MiB                %8.1f ms   %.0f MiB/s\n", ms("fetchWhfile256MiB"), mbps256);
    std::printf("fetch file:// 256 MiB               %8.1f ms   %.0f MiB/s\n", ms("fetchFile256MiB"), fileMbps256);
    std::printf("  whfile at %.2fx the throughput of file:// (target >= 1.0x): %s\n", mbps256 / fileMbps256,
        verdict(mbps256 >= fileMbps256));
    if (fetch1GiB.baseline < 0 || reads.baseline < 0 || unread.baseline < 0) {
        std::fprintf(stderr, "the UI process's memory could not be read\n");
        return 1;
    }
    auto growth = [](const Watch& w) {
        return format("UI process %.1f -> peak %.1f MiB, growth %.1f MiB", w.baseline / 1024.0, w.peak / 1024.0,
            (w.peak - w.baseline) / 1024.0) + (w.peakWasReset ? "" : " [sampled only: VmHWM could not be reset]");
    };
    auto grewMiB = [](const Watch& w) { return (w.peak - w.baseline) / 1024.0; };
    std::printf("fetch whfile 1 GiB                  %8.1f ms   %s\n", ms("fetchWhfile1GiB"), growth(fetch1GiB).c_str());
    std::printf("  growth serving 1 GiB (target < 64 MiB): %s\n", verdict(grewMiB(fetch1GiB) < 64));
    std::printf("16 x readAsArrayBuffer 200 MiB      %8.1f ms   %s\n", ms("readAsArrayBuffer16x200MiB"), growth(reads).c_str());
    std::printf("  growth with 16 reads at once (target < 512 + 256 MiB): %s\n", verdict(grewMiB(reads) < 768));
    std::printf("  slowest small call meanwhile      %8.1f ms (target < 100 ms): %s\n", ms("slowestCallDuringReads"),
        verdict(ms("slowestCallDuringReads") < 100));
    std::printf("1,500 unread 64 MiB fetches, 20 s   %8d answered   %s\n", (*report)["unreadAnswered"].get<int>(),
        growth(unread).c_str());
    std::printf("  growth with bodies left unread (target < 256 MiB): %s\n", verdict(grewMiB(unread) < 256));
    return 0;
}
