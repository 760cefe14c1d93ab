#pragma once

#include <algorithm>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <functional>
#include <glib.h>
#include <map>
#include <optional>
#include <sstream>
#include <stdexcept>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <utility>
#include <vector>

#include "support/TempDir.h"

namespace penwick::e2e {

// Runs the real app under the current X display in a sandbox of temporary folders: its own HOME,
// XDG config/data/cache/runtime folders, no session bus (unless the test gives one) and a
// resources folder the test fills with config.xml and www/.
// Its stdout and stderr go to a file, read line by line so tests can wait for and assert exact
// log lines.
class AppRunner {
public:
    enum class Binary { App, TestApp };
    explicit AppRunner(Binary binary = Binary::App) : m_binary(binary)
    {
        for (const auto& [name, sub] : kFolders)
            g_mkdir_with_parents(path(sub).c_str(), 0700);
        g_mkdir_with_parents(path("resources/www").c_str(), 0700);
    }
    ~AppRunner() { kill(); }

    // Files of the app's resources, relative to the resources folder ("config.xml", "www/a.html").
    void writeResource(const std::string& relativePath, const std::string& content) const
    {
        const std::string file = resourcesDir() + "/" + relativePath;
        g_autofree char* dir = g_path_get_dirname(file.c_str());
        if (g_mkdir_with_parents(dir, 0700) != 0 || !g_file_set_contents(file.c_str(), content.data(), static_cast<gssize>(content.size()), nullptr))
            throw std::runtime_error("cannot write " + file);
    }
    void writeConfig(const std::string& xml) const { writeResource("config.xml", xml); }
    // config.xml: a widget with `body` inside.
    static std::string widget(const std::string& body) { return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<widget>\n" + body + "\n</widget>\n"; }
    // config.xml's mapping of the file plugin as "File", made as the page loads.
    static inline const std::string kFilePlugin
        = "<feature name=\"File\"><param name=\"osx-package\" value=\"WHFile\"/><param name=\"onload\" value=\"true\"/></feature>";
    // The page library (www/webhost/ of the source tree) in www/webhost/.
    void writePageLibrary() const
    {
        std::filesystem::copy(std::string(PENWICK_SOURCE_DIR) + "/www/webhost", resourcesDir() + "/www/webhost",
            std::filesystem::copy_options::recursive | std::filesystem::copy_options::overwrite_existing);
    }
    // Placeholders of a test page ("@ORIGIN@") and their values.
    using Replacements = std::vector<std::pair<std::string, std::string>>;
    // The text of tests/e2e/pages/`folder`/`file`, its placeholders replaced.
    static std::string page(const std::string& folder, const std::string& file, const Replacements& replacements = {})
    {
        std::string text = readFile(std::string(PENWICK_E2E_PAGES) + "/" + folder + "/" + file);
        for (const auto& [placeholder, value] : replacements)
            text = replaced(text, placeholder, value);
        return text;
    }
    // The test build's start page `start` from tests/e2e/pages/`folder` with `extras` beside it (their
    // placeholders replaced), the page library, the echo plugin mapped as "Echo" and `config` added
    // to config.xml.
    void writePages(const std::string& folder, const std::string& start, const std::vector<std::string>& extras = {},
        const std::string& config = {}, const Replacements& replacements = {}) const
    {
        writeConfig(widget("<content src=\"" + start + "\"/>\n<feature name=\"Echo\"><param name=\"osx-package\" value=\"WHTestEcho\"/></feature>" + config));
        writePageLibrary();
        writeResource("www/" + start, page(folder, start, replacements));
        for (const auto& extra : extras)
            writeResource("www/" + extra, page(folder, extra, replacements));
    }

    // writePages(), then start().
    void startPages(const std::string& folder, const std::string& first, const std::vector<std::string>& extras = {},
        const std::string& config = {}, const Replacements& replacements = {})
    {
        writePages(folder, first, extras, config, replacements);
        start();
    }

    // Starts the app on www/index.html holding `html`, with `config` in config.xml's widget.
    void startPage(const std::string& config, const std::string& html)
    {
        writeConfig(widget(config));
        writeResource("www/index.html", html);
        start();
    }

    // Starts the app on www/index.html: the page library with its app plugin's script, then `body`.
    void startLibraryPage(const std::string& config, const std::string& body)
    {
        writePageLibrary();
        startPage("<content src=\"index.html\"/>" + config,
            "<!DOCTYPE html><title>page</title><script src=\"webhost/webhost.js\"></script><script src=\"webhost/app.js\"></script>"
                + body);
    }

    // An environment variable the app gets when it starts (the test-only switches).
    void setEnv(const std::string& name, const std::string& value) { m_env[name] = value; }
    // Starts the app through this command (a namespace it should run in).
    void setLauncher(std::vector<std::string> launcher) { m_launcher = std::move(launcher); }
    // Starts with the home, XDG and temporary folders of `other` (a second launch of the same app).
    void shareFoldersWith(const AppRunner& other)
    {
        for (const auto& [name, sub] : kFolders)
            setEnv(name, other.path(sub));
    }
    // Starts the app with --resources and the extra arguments.
    void start(const std::vector<std::string>& args = {})
    {
        int out = open(outputFile().c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
        if (out < 0)
            throw std::runtime_error("cannot open " + outputFile());
        std::vector<std::string> all = m_launcher;
        all.insert(all.end(), { m_binary == Binary::App ? PENWICK_APP : PENWICK_TESTAPP, "--resources", resourcesDir() });
        all.insert(all.end(), args.begin(), args.end());
        std::vector<const char*> argv(all.size() + 1, nullptr);
        std::transform(all.begin(), all.end(), argv.begin(), [](const auto& a) { return a.c_str(); });
        g_auto(GStrv) env = g_environ_unsetenv(g_get_environ(), "G_MESSAGES_DEBUG");
        // Apps of one test run share the application id: outside a private bus of the test's own, each
        // is the only instance, with folders of its own for the instance lock.
        // (An empty address, not none: with none, GLib may start a bus of its own for the display.)
        env = g_environ_setenv(env, "DBUS_SESSION_BUS_ADDRESS", "", TRUE);
        // There is no accessibility bus to bridge to: GTK's bridge would only wait for one.
        env = g_environ_setenv(env, "NO_AT_BRIDGE", "1", TRUE);
        // The compositor's socket is found in the runtime folder (the engine's sandbox looks for it
        // there too).
        if (const char* wayland = g_getenv("WAYLAND_DISPLAY")) {
            std::string socket = *wayland == '/' ? wayland : std::string(g_get_user_runtime_dir()) + "/" + wayland;
            g_autofree char* name = g_path_get_basename(socket.c_str());
            (void)symlink(socket.c_str(), path(std::string("runtime/") + name).c_str());
            env = g_environ_setenv(env, "WAYLAND_DISPLAY", name, TRUE);
        }
        for (const auto& [name, sub] : kFolders)
            env = g_environ_setenv(env, name, path(sub).c_str(), TRUE);
        for (const auto& [name, value] : m_env)
            env = g_environ_setenv(env, name.c_str(), value.c_str(), TRUE);
        bool started
            = g_spawn_async_with_pipes_and_fds(nullptr, argv.data(), env, GSpawnFlags(G_SPAWN_DO_NOT_REAP_CHILD | G_SPAWN_SEARCH_PATH),
                nullptr, nullptr, -1, out, out, nullptr, nullptr, 0, &m_pid, nullptr, nullptr, nullptr, nullptr);
        close(out);
        if (!started)
            throw std::runtime_error("cannot start " + all.front());
    }
    // Waits for the process to exit; the exit status, or nothing on time-out (the app is killed).
    std::optional<int> waitForExit(std::chrono::milliseconds timeout = std::chrono::seconds(60))
    {
        int status = 0;
        if (m_pid < 0 || !waitUntil([&] { return waitpid(m_pid, &status, WNOHANG) == m_pid; }, timeout)) {
            kill();
            return std::nullopt;
        }
        m_pid = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }
    // start() + waitForExit().
    std::optional<int> run(const std::vector<std::string>& args, std::chrono::milliseconds timeout = std::chrono::seconds(60))
    {
        start(args);
        return waitForExit(timeout);
    }
    // Number of stderr lines containing `text` so far.
    int countLines(const std::string& text) const
    {
        return static_cast<int>(std::ranges::count_if(lines(), [&](const auto& l) { return l.find(text) != std::string::npos; }));
    }
    // What follows `text` in the last line holding it, or nothing when no line does.
    std::optional<std::string> lastAfter(const std::string& text) const
    {
        const auto all = lines();
        auto last = std::find_if(all.rbegin(), all.rend(), [&](const auto& l) { return l.find(text) != std::string::npos; });
        return last == all.rend() ? std::nullopt : std::optional(last->substr(last->find(text) + text.size()));
    }
    // True when a stderr line ends with exactly `message` after the log prefix.
    bool hasLogLine(const std::string& message) const { return indexOfLogLine(message) >= 0; }
    // Position of the first log line that is exactly `message`, or -1.
    int indexOfLogLine(const std::string& message) const
    {
        auto all = lines();
        // GLib prints "penwick-Message: HH:MM:SS.mmm: <message>".
        auto found = std::find_if(all.begin(), all.end(), [&](const std::string& line) {
            auto sep = line.find(": ", line.find(": ") + 2);
            return line.starts_with("penwick-") && sep != std::string::npos && line.compare(sep + 2, std::string::npos, message) == 0;
        });
        return found == all.end() ? -1 : static_cast<int>(found - all.begin());
    }
    std::vector<std::string> lines() const
    {
        const std::string text = output();
        std::vector<std::string> all;
        std::istringstream in(text);
        for (std::string line; std::getline(in, line);)
            all.push_back(line);
        // While the app runs, a line being written is not there yet.
        if (m_pid > 0 && !text.empty() && text.back() != '\n')
            all.pop_back();
        return all;
    }
    // Everything the app wrote to stdout and stderr so far, over all its starts.
    std::string output() const { return readFile(outputFile()); }
    void kill()
    {
        if (m_pid > 0) {
            ::kill(m_pid, SIGKILL);
            waitpid(std::exchange(m_pid, -1), nullptr, 0);
        }
    }
    int pid() const { return m_pid; }

    const std::string& root() const { return m_root.path; }
    std::string resourcesDir() const { return m_root.path + "/resources"; }
    std::string path(const std::string& relative) const { return m_root.path + "/" + relative; }

    // The first visible window of the app titled exactly `title` (an X id), or "".
    std::string window(const std::string& title = "Penwick") const
    {
        return capture("xdotool " + windowSearch(title, "--onlyvisible") + " | head -1 | tr -d '\\n'");
    }
    // How many windows of the app are titled exactly `title`: shown ones, or all.
    enum class Shown { Only, OrNot };
    long windowCount(const std::string& title, Shown shown) const
    {
        return std::stol(capture("xdotool " + windowSearch(title, shown == Shown::Only ? "--onlyvisible" : "") + " | wc -l"));
    }
    // xdotool on the app's window titled `title`, waiting for it to show: `actions` use it as %1.
    bool onWindow(const std::string& title, const std::string& actions) const
    {
        return xdotool(windowSearch(title, "--sync --onlyvisible") + " " + actions);
    }
    // Keys pressed in the app's window titled `title`, once it shows and has the focus. The focus
    // may be taken back from a window that has just shown (the app returning it to the window a
    // closed dialog came from): the keys then never left, and go again while the window is there.
    bool press(const std::string& keys, const std::string& title = "Penwick") const
    {
        for (int attempt = 0; attempt < 3; ++attempt) {
            if (onWindow(title, "windowfocus --sync %1 key --clearmodifiers " + keys))
                return true;
            if (window(title).empty())
                return false;
        }
        return false;
    }
    // The web processes the app started, directly or through a launcher.
    std::vector<pid_t> webProcesses() const
    {
        std::vector<pid_t> found;
        for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
            const pid_t web = std::atoi(entry.path().filename().c_str());
            if (web <= 0 || !readFile(entry.path().string() + "/comm").starts_with("WebKitWebProces"))
                continue;
            // A launcher (the sandbox's) may stand between the app and its web process.
            for (pid_t pid = web; pid > 1 && pid != m_pid;) {
                std::string stat = readFile("/proc/" + std::to_string(pid) + "/stat");
                auto close = stat.rfind(')');
                pid = close == std::string::npos ? 0 : std::atoi(stat.c_str() + close + 4);
                if (pid == m_pid)
                    found.push_back(web);
            }
        }
        return found;
    }

    static std::string readFile(const std::string& path) { return test::readFile(path); }
    // `text` with every `placeholder` replaced by `value`.
    static std::string replaced(std::string text, const std::string& placeholder, const std::string& value)
    {
        for (size_t at = text.find(placeholder); at != std::string::npos; at = text.find(placeholder, at + value.size()))
            text.replace(at, placeholder.size(), value);
        return text;
    }
    // A shell command's standard output.
    static std::string capture(const std::string& command)
    {
        const char* argv[] = { "/bin/sh", "-c", command.c_str(), nullptr };
        g_autofree char* out = nullptr;
        g_spawn_sync(nullptr, const_cast<char**>(argv), nullptr, G_SPAWN_STDERR_TO_DEV_NULL, nullptr, nullptr, &out, nullptr, nullptr, nullptr);
        return out ? out : "";
    }
    static bool xdotool(const std::string& args) { return std::system(("xdotool " + args + " >/dev/null 2>&1").c_str()) == 0; }
    // Polls `done` until it holds; false on time-out.
    static bool waitUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout)
    {
        for (auto deadline = std::chrono::steady_clock::now() + timeout; !done(); std::this_thread::sleep_for(std::chrono::milliseconds(50)))
            if (std::chrono::steady_clock::now() > deadline)
                return false;
        return true;
    }
    // A kibibyte figure of /proc/<pid>/status ("VmRSS", "VmHWM"), -1 if there is none.
    static long statusKiB(int pid, const std::string& field)
    {
        const std::string status = readFile("/proc/" + std::to_string(pid) + "/status");
        const size_t at = status.find(field + ":");
        return at == std::string::npos ? -1 : std::stol(status.substr(at + field.size() + 1));
    }

private:
    // The app's own folders in its sandbox: the variable that names each, and its place there.
    static constexpr std::pair<const char*, const char*> kFolders[] = { { "HOME", "home" }, { "XDG_CONFIG_HOME", "config" },
        { "XDG_DATA_HOME", "data" }, { "XDG_CACHE_HOME", "cache" }, { "TMPDIR", "tmp" }, { "XDG_RUNTIME_DIR", "runtime" } };
    std::string outputFile() const { return m_root.path + "/output.log"; }
    // xdotool's search matches windows meeting any one condition unless told --all.
    std::string windowSearch(const std::string& title, const std::string& options) const
    {
        return "search --all " + options + " --pid " + std::to_string(m_pid) + " --name '^" + title + "$'";
    }

    Binary m_binary;
    test::TempDir m_root { "penwick-e2e-XXXXXX" };
    std::map<std::string, std::string> m_env;
    std::vector<std::string> m_launcher;
    int m_pid = -1;
};

} // namespace penwick::e2e
