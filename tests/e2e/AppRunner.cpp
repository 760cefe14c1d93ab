#include "e2e/AppRunner.h"
#include "e2e/XServer.h"

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <glib.h>
#include <iterator>
#include <sstream>
#include <stdexcept>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <utility>

namespace penwick::e2e {

namespace {
// The app's own folders in its sandbox: the variable that names each, and its place there.
constexpr std::pair<const char*, const char*> kFolders[] = { { "HOME", "home" }, { "XDG_CONFIG_HOME", "config" },
    { "XDG_DATA_HOME", "data" }, { "XDG_CACHE_HOME", "cache" }, { "TMPDIR", "tmp" }, { "XDG_RUNTIME_DIR", "runtime" } };
} // namespace

AppRunner::AppRunner(Binary binary) : m_binary(binary)
{
    for (const auto& [name, sub] : kFolders)
        g_mkdir_with_parents(path(sub).c_str(), 0700);
    g_mkdir_with_parents(path("resources/www").c_str(), 0700);
}

AppRunner::~AppRunner() { kill(); }

void AppRunner::shareFoldersWith(const AppRunner& other)
{
    for (const auto& [name, sub] : kFolders)
        setEnv(name, other.path(sub));
}

void AppRunner::writeResource(const std::string& relativePath, const std::string& content) const
{
    const std::string path = resourcesDir() + "/" + relativePath;
    g_autofree char* dir = g_path_get_dirname(path.c_str());
    if (g_mkdir_with_parents(dir, 0700) != 0 || !g_file_set_contents(path.c_str(), content.data(), static_cast<gssize>(content.size()), nullptr))
        throw std::runtime_error("cannot write " + path);
}

void AppRunner::writePageLibrary() const
{
    std::filesystem::copy(std::string(PENWICK_SOURCE_DIR) + "/www/webhost", resourcesDir() + "/www/webhost",
        std::filesystem::copy_options::recursive | std::filesystem::copy_options::overwrite_existing);
}

std::string AppRunner::widget(const std::string& body)
{
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<widget>\n" + body + "\n</widget>\n";
}

std::string AppRunner::page(const std::string& folder, const std::string& file, const Replacements& replacements)
{
    std::string text = readFile(std::string(PENWICK_E2E_PAGES) + "/" + folder + "/" + file);
    for (const auto& [placeholder, value] : replacements)
        text = replaced(text, placeholder, value);
    return text;
}

void AppRunner::writePages(const std::string& folder, const std::string& start, const std::vector<std::string>& extras,
    const std::string& config, const Replacements& replacements) const
{
    writeConfig(widget("<content src=\"" + start + "\"/>\n<feature name=\"Echo\"><param name=\"osx-package\" value=\"WHTestEcho\"/></feature>" + config));
    writePageLibrary();
    writeResource("www/" + start, page(folder, start, replacements));
    for (const auto& extra : extras)
        writeResource("www/" + extra, page(folder, extra));
}

void AppRunner::start(const std::vector<std::string>& args)
{
    int out = open(outputFile().c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
    if (out < 0)
        throw std::runtime_error("cannot open " + outputFile());
    const std::string resources = resourcesDir();
    std::vector<const char*> argv;
    for (const auto& a : m_launcher)
        argv.push_back(a.c_str());
    for (const char* a : { m_binary == Binary::App ? PENWICK_APP : PENWICK_TESTAPP, "--resources", resources.c_str() })
        argv.push_back(a);
    for (const auto& a : args)
        argv.push_back(a.c_str());
    argv.push_back(nullptr);
    char** env = g_environ_unsetenv(g_get_environ(), "G_MESSAGES_DEBUG");
    // Apps of one test run share the application id: outside a private bus of the test's own, each
    // is the only instance, with a runtime folder of its own for the instance lock.
    // (An empty address, not none: with none, GLib may start a bus of its own for the display.)
    env = g_environ_setenv(env, "DBUS_SESSION_BUS_ADDRESS", "", TRUE);
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
    GPid pid = -1;
    bool started = g_spawn_async_with_pipes_and_fds(nullptr, argv.data(), env, GSpawnFlags(G_SPAWN_DO_NOT_REAP_CHILD | G_SPAWN_SEARCH_PATH), nullptr, nullptr, -1, out, out,
        nullptr, nullptr, 0, &pid, nullptr, nullptr, nullptr, nullptr);
    g_strfreev(env);
    close(out);
    if (!started)
        throw std::runtime_error(std::string("cannot start ") + argv[0]);
    m_pid = pid;
}

std::optional<int> AppRunner::waitForExit(std::chrono::milliseconds timeout)
{
    int status = 0;
    if (m_pid < 0 || !waitUntil([&] { return waitpid(m_pid, &status, WNOHANG) == m_pid; }, timeout)) {
        kill();
        return std::nullopt;
    }
    m_pid = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

std::optional<int> AppRunner::run(const std::vector<std::string>& args, std::chrono::milliseconds timeout)
{
    start(args);
    return waitForExit(timeout);
}

bool AppRunner::waitForLine(const std::string& text, std::chrono::milliseconds timeout)
{
    return waitUntil([&] { return countLines(text) > 0; }, timeout);
}

int AppRunner::countLines(const std::string& text) const
{
    auto all = lines();
    return static_cast<int>(std::count_if(all.begin(), all.end(), [&](const auto& l) { return l.find(text) != std::string::npos; }));
}

bool AppRunner::hasLogLine(const std::string& message) const { return indexOfLogLine(message) >= 0; }

int AppRunner::indexOfLogLine(const std::string& message) const
{
    auto all = lines();
    // GLib prints "penwick-Message: HH:MM:SS.mmm: <message>".
    auto found = std::find_if(all.begin(), all.end(), [&](const std::string& line) {
        auto sep = line.find(": ", line.find(": ") + 2);
        return line.starts_with("penwick-") && sep != std::string::npos && line.compare(sep + 2, std::string::npos, message) == 0;
    });
    return found == all.end() ? -1 : static_cast<int>(found - all.begin());
}

std::vector<std::string> AppRunner::missingLogLines(const std::vector<std::string>& messages, std::chrono::milliseconds timeout)
{
    std::vector<std::string> missing;
    (void)waitUntil([&] {
        missing.clear();
        std::copy_if(messages.begin(), messages.end(), std::back_inserter(missing), [&](const auto& m) { return !hasLogLine(m); });
        return missing.empty();
    }, timeout);
    return missing;
}

std::vector<std::string> AppRunner::lines() const
{
    const std::string text = readFile(outputFile());
    std::vector<std::string> all;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        all.push_back(line);
    // While the app runs, a line being written is not there yet.
    if (m_pid > 0 && !text.empty() && text.back() != '\n')
        all.pop_back();
    return all;
}

void AppRunner::kill()
{
    if (m_pid > 0) {
        ::kill(m_pid, SIGKILL);
        waitpid(m_pid, nullptr, 0);
        m_pid = -1;
    }
}

// xdotool's search matches windows meeting any one condition unless told --all.
std::string AppRunner::windowSearch(const std::string& title, const std::string& options) const
{
    return "search --all " + options + " --pid " + std::to_string(m_pid) + " --name '^" + title + "$'";
}

std::string AppRunner::window(const std::string& title) const
{
    std::string ids = capture("xdotool " + windowSearch(title, "--onlyvisible"));
    return ids.substr(0, ids.find('\n'));
}

long AppRunner::windowCount(const std::string& title, Shown shown) const
{
    std::string ids = capture("xdotool " + windowSearch(title, shown == Shown::Only ? "--onlyvisible" : ""));
    return std::count(ids.begin(), ids.end(), '\n');
}

std::string AppRunner::replaced(std::string text, const std::string& placeholder, const std::string& value)
{
    for (size_t at = text.find(placeholder); at != std::string::npos; at = text.find(placeholder, at + value.size()))
        text.replace(at, placeholder.size(), value);
    return text;
}

bool AppRunner::onWindow(const std::string& title, const std::string& actions) const
{
    return xdotool(windowSearch(title, "--sync --onlyvisible") + " " + actions);
}

std::vector<pid_t> AppRunner::webProcesses() const
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

std::string AppRunner::capture(const std::string& command)
{
    const char* argv[] = { "/bin/sh", "-c", command.c_str(), nullptr };
    g_autofree char* out = nullptr;
    g_spawn_sync(nullptr, const_cast<char**>(argv), nullptr, G_SPAWN_STDERR_TO_DEV_NULL, nullptr, nullptr, &out, nullptr, nullptr, nullptr);
    return out ? out : "";
}

bool AppRunner::xdotool(const std::string& args) { return std::system(("xdotool " + args + " >/dev/null 2>&1").c_str()) == 0; }

bool AppRunner::waitUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout)
{
    auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return true;
}

std::string AppRunner::readFile(const std::string& path)
{
    g_autofree char* text = nullptr;
    gsize length = 0;
    return g_file_get_contents(path.c_str(), &text, &length, nullptr) ? std::string(text, length) : std::string();
}

long AppRunner::statusKiB(int pid, const std::string& field)
{
    const std::string status = readFile("/proc/" + std::to_string(pid) + "/status");
    const size_t at = status.find(field + ":");
    return at == std::string::npos ? -1 : std::stol(status.substr(at + field.size() + 1));
}

bool AppRunner::fileExists(const std::string& path) { return g_file_test(path.c_str(), G_FILE_TEST_EXISTS); }

} // namespace penwick::e2e
