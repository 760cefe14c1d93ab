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
//     none of their bodies;
//   - rows beside the floor the kernel's own tools set, each with its ratio, target and verdict:
//     a chunked save (256 MiB in 1 MiB writes) against dd with a sync per MiB (run just before each
//     of the page's three saves), a 1 KiB append to a 512 MiB file against an append + fdatasync,
//     1 GiB read in 16 and 64 MiB slices against a
//     plain read loop (as cat), the whfile fetch of 1 GiB against file:// in the same page,
//     10,000 getFileMetadata calls awaited one by one against os.stat in Python (and beside them
//     10,000 calls the host answers at once, the least a call costs), a listing of
//     100,000 items against ls -f, and a call sent while that listing runs.
// Run: DISPLAY=:99 ./bench/e2e/bench_file_e2e
// PENWICK_BENCH_PARTS runs only some parts (comma-separated): memory, sizes, writes, slices,
// fetch1GiB, small, reads, unread.
#include "BenchFiles.h"
#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <fstream>
#include <glib.h>
#include <nlohmann/json.hpp>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <sstream>
#include <string>
#include <sys/mman.h>
#include <sys/stat.h>
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
    // On the disk before anything is timed: the first flush of a row would otherwise write them.
    bool synced = fsync(fd) == 0;
    close(fd);
    return synced;
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

double msSince(Clock::time_point start) { return std::chrono::duration<double, std::milli>(Clock::now() - start).count(); }

double medianOf(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

// Milliseconds a command takes from fork to exit, its output dropped; -1 when it fails.
double timedCommand(const std::vector<std::string>& argv)
{
    auto start = Clock::now();
    pid_t pid = fork();
    if (pid == 0) {
        int null = open("/dev/null", O_WRONLY);
        dup2(null, STDOUT_FILENO);
        dup2(null, STDERR_FILENO);
        penwick::bench::execInChild({}, argv);
    }
    int status = 0;
    if (pid < 0 || waitpid(pid, &status, 0) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
        return -1;
    return msSince(start);
}

// The floors: what the kernel's own tools take for the same work, medians of three.
struct Floors {
    double append1KiB = -1, read1GiB = -1, stat10000 = -1, lsF100000 = -1;
    bool statInPython = false;
};

Floors measureFloors(const std::string& data)
{
    Floors floors;
    std::vector<double> append, read, ls;
    std::vector<char> buffer(1 << 20);
    for (int run = 0; run < 3; ++run) {
        // The mean of 20 appends, as the page measures them.
        auto start = Clock::now();
        bool appended = true;
        for (int i = 0; i < 20 && appended; ++i) {
            int fd = open((data + "/a512").c_str(), O_WRONLY | O_APPEND);
            appended = fd >= 0 && write(fd, buffer.data(), 1024) == 1024 && fdatasync(fd) == 0;
            if (fd >= 0)
                close(fd);
        }
        append.push_back(appended ? msSince(start) / 20 : -1);
        start = Clock::now();
        int fd = open((data + "/f1024").c_str(), O_RDONLY);
        while (fd >= 0 && ::read(fd, buffer.data(), buffer.size()) > 0) { }
        if (fd >= 0)
            close(fd);
        read.push_back(fd >= 0 ? msSince(start) : -1);
        ls.push_back(timedCommand({ "/bin/sh", "-c", "exec ls -f '" + data + "/many'" }));
    }
    floors.append1KiB = medianOf(append);
    floors.read1GiB = medianOf(read);
    floors.lsF100000 = medianOf(ls);
    // os.stat in Python, as an app's own scripts would call it; stat() in C where there is none.
    std::string script = "import os,time\nt=time.perf_counter()\nfor _ in range(10000): os.stat('" + data
        + "/f16')\nprint((time.perf_counter()-t)*1000)\n";
    if (FILE* python = popen(("python3 -c \"" + script + "\" 2>/dev/null").c_str(), "r")) {
        char line[64] = {};
        if (std::fgets(line, sizeof line, python) && std::atof(line) > 0) {
            floors.stat10000 = std::atof(line);
            floors.statInPython = true;
        }
        pclose(python);
    }
    if (!floors.statInPython) {
        auto start = Clock::now();
        struct stat st;
        for (int i = 0; i < 10000; ++i)
            stat((data + "/f16").c_str(), &st);
        floors.stat10000 = msSince(start);
    }
    return floors;
}

// One row: the figure, its floor, the ratio, the target and whether it is met.
void printRow(const char* name, double ms, const std::string& floorName, double floorMs, double targetRatio)
{
    double ratio = floorMs > 0 ? ms / floorMs : -1;
    std::printf("%-40s %9.1f ms   %s %.1f ms   %.2fx (target <= %gx): %s\n", name, ms, floorName.c_str(), floorMs, ratio,
        targetRatio, ratio >= 0 && ratio <= targetRatio ? "met" : "MISSED");
}

// Fills `size` bytes of memory and lets them go: on a virtual machine that backs memory on first
// touch (and takes back what stays free), this is what the page cache takes next.
void touchAndFree(size_t size)
{
    if (void* memory = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0); memory != MAP_FAILED) {
        madvise(memory, size, MADV_HUGEPAGE);
        for (size_t at = 0; at < size; at += 4096)
            static_cast<volatile char*>(memory)[at] = 1;
        munmap(memory, size);
    }
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
    std::fprintf(stderr, "writing 2 GiB of test files and a folder of 100,000...\n");
    const size_t MiB = 1 << 20;
    g_mkdir_with_parents((data + "/many").c_str(), 0700);
    bool manyWritten = true;
    for (int i = 0; i < 100000 && manyWritten; ++i) {
        int fd = open((data + "/many/item-" + std::to_string(i)).c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        manyWritten = fd >= 0 && close(fd) == 0;
    }
    if (!manyWritten || !writeFilled(data + "/f16", 16 * MiB) || !writeFilled(data + "/f64", 64 * MiB)
        || !writeFilled(data + "/f256", 256 * MiB) || !writeFilled(data + "/f1024", 1024 * MiB) || !writeFilled(data + "/a512", 512 * MiB)
        || !writeFilled(data + "/f200", 200 * MiB)) {
        std::fprintf(stderr, "cannot write the test files under %s\n", root.c_str());
        return 1;
    }
    // The 2 GiB just written go to the disk now, not under the page's first figures.
    sync();
    // On a virtual machine whose memory the hypervisor backs on first touch, a page the machine
    // has never used costs about 2 ms per MiB to fill the first time, 0.5 ms after (a C loop of
    // 1 MiB pwrites into the page cache, measured on the same machine). The app's parts come
    // first and most floors after, on memory the app left, so the cost fell on one side only.
    // Memory touched and let go here is what the page cache takes next, for both.
    // At most half of what is free, so that a smaller machine is not pressed into reclaiming.
    touchAndFree(std::min<size_t>(6144 * MiB, static_cast<size_t>(sysconf(_SC_AVPHYS_PAGES)) * sysconf(_SC_PAGESIZE) / 2));
    std::string resources = root + "/resources";
    writeFile(resources + "/config.xml", "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<widget id=\"b\">\n"
                                         "<content src=\"file-bench.html\"/>\n"
                                         "<feature name=\"File\"><param name=\"osx-package\" value=\"WHFile\"/>"
                                         "<param name=\"onload\" value=\"true\"/></feature>\n"
                                         "<feature name=\"Echo\"><param name=\"osx-package\" value=\"WHTestEcho\"/></feature>\n</widget>\n");
    const char* parts = g_getenv("PENWICK_BENCH_PARTS");
    writeFile(resources + "/www/bench-data.js", "var DATA = 'file://" + resources + "/www';\nvar PARTS = "
            + nlohmann::json(parts && *parts ? std::string(parts) : std::string()).dump() + ".split(',').filter(Boolean);\n");
    for (const char* library : { "webhost/webhost.js", "webhost/file.js" })
        writeFile(resources + "/www/" + library, readFile(std::string(PENWICK_SOURCE_DIR) + "/www/" + library));
    writeFile(resources + "/www/file-bench.html", readFile(std::string(PENWICK_BENCH_PAGES) + "/file-bench.html"));
    auto removeFiles = [&] {
        std::error_code ignored;
        std::filesystem::remove_all(root, ignored);
    };
    // The file:// comparisons read the same bytes from inside the web content folder.
    if (link((data + "/f256").c_str(), (resources + "/www/f256").c_str()) != 0
        || link((data + "/f1024").c_str(), (resources + "/www/f1024").c_str()) != 0) {
        std::fprintf(stderr, "cannot link the 256 MiB and 1 GiB files into %s/www\n", resources.c_str());
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
    std::vector<double> ddRuns;
    // Generous: on a busy machine the 1 GiB runs alone take minutes.
    auto deadline = Clock::now() + std::chrono::seconds(1200);
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
            } else if (auto at = line.find("DD-FLOOR "); at != std::string::npos) {
                // dd's run of the page's chunked save, just before it: on this kind of machine memory
                // left free goes back to the hypervisor within seconds and costs again to fill. So
                // both write into memory filled just before: dd into what is touched here, the page
                // into what dd's file leaves.
                const std::string ddOut = root + "/dd-out";
                touchAndFree(512 * MiB);
                ddRuns.push_back(timedCommand({ "/bin/sh", "-c", "exec dd if=/dev/zero of='" + ddOut + "' bs=1M count=256 oflag=dsync" }));
                unlink(ddOut.c_str());
                writeFile(data + "/dd-" + line.substr(at + 9), "");
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
    if (!report || report->contains("error")) {
        std::fprintf(stderr, "no report: %s\n", report ? report->dump().c_str() : "(timed out)");
        removeFiles();
        return 1;
    }
    std::fprintf(stderr, "the floors...\n");
    const Floors floors = measureFloors(data);
    removeFiles();
    auto ms = [&](const char* key) { return (*report)[key].get<double>(); };
    auto has = [&](const char* key) { return report->contains(key); };
    auto verdict = [](bool met) { return met ? "met" : "MISSED"; };
    auto growth = [](const Watch& w) {
        return format("UI process %.1f -> peak %.1f MiB, growth %.1f MiB", w.baseline / 1024.0, w.peak / 1024.0,
            (w.peak - w.baseline) / 1024.0) + (w.peakWasReset ? "" : " [sampled only: VmHWM could not be reset]");
    };
    auto grewMiB = [](const Watch& w) { return (w.peak - w.baseline) / 1024.0; };
    for (auto [key, watch] : { std::pair { "fetchWhfile1GiB", &fetch1GiB }, { "slowestCallDuringReads", &reads }, { "unreadAnswered", &unread } }) {
        if (has(key) && watch->baseline < 0) {
            std::fprintf(stderr, "the UI process's memory could not be read\n");
            return 1;
        }
    }
    if (has("readAsArrayBuffer16MiB")) {
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
    }
    if (has("fetchWhfile1GiB")) {
        std::printf("fetch whfile 1 GiB                  %8.1f ms   %s\n", ms("fetchWhfile1GiB"), growth(fetch1GiB).c_str());
        std::printf("  growth serving 1 GiB (target < 64 MiB): %s\n", verdict(grewMiB(fetch1GiB) < 64));
    }
    if (has("slowestCallDuringReads")) {
        std::printf("16 x readAsArrayBuffer 200 MiB      %8.1f ms   %s\n", ms("readAsArrayBuffer16x200MiB"), growth(reads).c_str());
        std::printf("  growth with 16 reads at once (target < 512 + 256 MiB): %s\n", verdict(grewMiB(reads) < 768));
        std::printf("  slowest small call meanwhile      %8.1f ms (target < 100 ms): %s\n", ms("slowestCallDuringReads"),
            verdict(ms("slowestCallDuringReads") < 100));
    }
    if (has("unreadAnswered")) {
        std::printf("1,500 unread 64 MiB fetches, 20 s   %8d answered   %s\n", (*report)["unreadAnswered"].get<int>(),
            growth(unread).c_str());
        std::printf("  growth with bodies left unread (target < 256 MiB): %s\n", verdict(grewMiB(unread) < 256));
    }
    if (has("write256MiB")) {
        printRow("write 256 MiB in 1 MiB calls", ms("write256MiB"), "dd bs=1M oflag=dsync", medianOf(ddRuns), 2);
        // The disk's own spread shows in dd's runs.
        std::printf("  each pair, dd then the page:");
        for (size_t i = 0; i < ddRuns.size() && i < (*report)["write256MiBRuns"].size(); ++i)
            std::printf("%s %.0f / %.0f ms", i ? "," : "", ddRuns[i], (*report)["write256MiBRuns"][i].get<double>());
        std::printf("\n");
        printRow("append 1 KiB to 512 MiB", ms("append1KiB"), "append + fdatasync in C", floors.append1KiB, 3);
    }
    // At 1 GB/s or more: 1 GiB in at most 1.07 s, whatever the floor.
    for (const char* slices : { "16", "64" }) {
        std::string key = std::string("readAsArrayBuffer1GiBIn") + slices + "MiB";
        if (!has(key.c_str()))
            continue;
        double took = ms(key.c_str());
        std::printf("%-40s %9.1f ms   read loop (as cat) %.1f ms   %.2fx, %.0f MB/s (target >= 1000 MB/s): %s\n",
            (std::string("readAsArrayBuffer 1 GiB in ") + slices + " MiB slices").c_str(), took, floors.read1GiB,
            took / floors.read1GiB, 1024.0 * MiB / 1e6 / (took / 1000), verdict(1024.0 * MiB / 1e6 / (took / 1000) >= 1000));
    }
    if (has("fetchWhfile1GiBPaired"))
        printRow("whfile fetch 1 GiB vs file://", ms("fetchWhfile1GiBPaired"), "file:// fetch", ms("fetchFile1GiB"), 1);
    if (has("getFileMetadata10000")) {
        printRow("getFileMetadata x10,000 one by one", ms("getFileMetadata10000"),
            floors.statInPython ? "os.stat x10,000 in Python" : "stat() x10,000 in C (no Python)", floors.stat10000, 10);
        // A call to the host and back costs more than the target allows a look-up; this says how much.
        std::printf("  a call answered at once x10,000: %.1f ms, %.2fx the floor\n", ms("ping10000"), ms("ping10000") / floors.stat10000);
        printRow("readEntries of 100,000", ms("readEntries100000"), "ls -f", floors.lsF100000, 2);
        std::printf("%-40s %9.1f ms   (target <= 20 ms): %s\n", "a call answered during that listing", ms("callDuringListing"),
            verdict(ms("callDuringListing") <= 20));
    }
    return 0;
}
