#pragma once

#include <chrono>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <sys/types.h>
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
    explicit AppRunner(Binary binary = Binary::App);
    ~AppRunner();
    AppRunner(const AppRunner&) = delete;
    AppRunner& operator=(const AppRunner&) = delete;

    // Files of the app's resources, relative to the resources folder ("config.xml", "www/a.html").
    void writeResource(const std::string& relativePath, const std::string& content) const;
    void writeConfig(const std::string& xml) const { writeResource("config.xml", xml); }
    // config.xml: a widget with `body` inside.
    static std::string widget(const std::string& body);
    // config.xml's mapping of the file plugin as "File", made as the page loads.
    static inline const std::string kFilePlugin
        = "<feature name=\"File\"><param name=\"osx-package\" value=\"WHFile\"/><param name=\"onload\" value=\"true\"/></feature>";
    // The page library (www/webhost/ of the source tree) in www/webhost/.
    void writePageLibrary() const;
    // Placeholders of a test page ("@ORIGIN@") and their values.
    using Replacements = std::vector<std::pair<std::string, std::string>>;
    // The text of tests/e2e/pages/`folder`/`file`, its placeholders replaced.
    static std::string page(const std::string& folder, const std::string& file, const Replacements& replacements = {});
    // The test build's start page `start` from tests/e2e/pages/`folder` (its placeholders replaced),
    // with `extras` beside it, the page library, the echo plugin mapped as "Echo" and `config` added
    // to config.xml.
    void writePages(const std::string& folder, const std::string& start, const std::vector<std::string>& extras = {},
        const std::string& config = {}, const Replacements& replacements = {}) const;

    // An environment variable the app gets when it starts (the test-only switches).
    void setEnv(const std::string& name, const std::string& value) { m_env[name] = value; }
    // Starts the app through this command (a namespace it should run in).
    void setLauncher(std::vector<std::string> launcher) { m_launcher = std::move(launcher); }
    // Starts with the home, XDG and temporary folders of `other` (a second launch of the same app).
    void shareFoldersWith(const AppRunner& other);
    // Starts the app with --resources and the extra arguments.
    void start(const std::vector<std::string>& args = {});
    // Waits for the process to exit; the exit status, or nothing on time-out (the app is killed).
    std::optional<int> waitForExit(std::chrono::milliseconds timeout = std::chrono::seconds(60));
    // start() + waitForExit().
    std::optional<int> run(const std::vector<std::string>& args, std::chrono::milliseconds timeout = std::chrono::seconds(60));
    // Waits until a stderr line contains `text`.
    bool waitForLine(const std::string& text, std::chrono::milliseconds timeout = std::chrono::seconds(30));
    // Number of stderr lines containing `text` so far.
    int countLines(const std::string& text) const;
    // True when a stderr line ends with exactly `message` after the log prefix.
    bool hasLogLine(const std::string& message) const;
    // Waits until every message has been logged (as hasLogLine); the ones that were not.
    std::vector<std::string> missingLogLines(const std::vector<std::string>& messages,
        std::chrono::milliseconds timeout = std::chrono::seconds(30));
    // Position of the first log line that is exactly `message`, or -1.
    int indexOfLogLine(const std::string& message) const;
    std::vector<std::string> lines() const;
    // Everything the app wrote so far, for failure messages.
    std::string output() const { return readFile(outputFile()); }
    void kill();
    int pid() const { return m_pid; }

    const std::string& root() const { return m_root.path; }
    std::string resourcesDir() const { return m_root.path + "/resources"; }
    std::string path(const std::string& relative) const { return m_root.path + "/" + relative; }

    // The first visible window of the app titled exactly `title` (an X id), or "".
    std::string window(const std::string& title = "Penwick") const;
    // How many windows of the app are titled exactly `title`: shown ones, or all.
    enum class Shown { Only, OrNot };
    long windowCount(const std::string& title, Shown shown) const;
    // xdotool on the app's window titled `title`, waiting for it to show: `actions` use it as %1.
    bool onWindow(const std::string& title, const std::string& actions) const;
    // xdotool's search (with `options`) for the app's windows titled exactly `title`.
    std::string windowSearch(const std::string& title, const std::string& options) const;
    // The web processes the app started, directly or through a launcher.
    std::vector<pid_t> webProcesses() const;

    static std::string readFile(const std::string& path);
    // `text` with every `placeholder` replaced by `value`.
    static std::string replaced(std::string text, const std::string& placeholder, const std::string& value);
    // A shell command's standard output.
    static std::string capture(const std::string& command);
    static bool xdotool(const std::string& args);
    // Polls `done` until it holds; false on time-out.
    static bool waitUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout);
    static bool fileExists(const std::string& path);
    // A kibibyte figure of /proc/<pid>/status ("VmRSS", "VmHWM"), -1 if there is none.
    static long statusKiB(int pid, const std::string& field);

private:
    // Everything the app wrote to stdout and stderr, over all its starts.
    std::string outputFile() const { return m_root.path + "/output.log"; }

    Binary m_binary;
    test::TempDir m_root { "penwick-e2e-XXXXXX" };
    std::map<std::string, std::string> m_env;
    std::vector<std::string> m_launcher;
    int m_pid = -1;
};

} // namespace penwick::e2e
