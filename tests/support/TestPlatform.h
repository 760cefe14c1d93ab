#pragma once

#include <deque>
#include <filesystem>
#include <fstream>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/AppEnvironment.h"
#include "platform/Dialogs.h"
#include "platform/Platform.h"
#include "platform/Scheduler.h"
#include "platform/WorkQueue.h"
#include "platform/glib/GLibAppEnvironment.h"
#include "platform/glib/KeyFileUserDefaults.h"
#include "support/TempDir.h"

namespace penwick::test {

// The main loop of a test: post() queues from any thread; runPending() runs the queued tasks in
// order on the calling thread. The thread that made it is the main thread. Standard primitives
// only, so that ThreadSanitizer sees every hand-over.
class RecordingScheduler : public platform::Scheduler {
public:
    void post(std::function<void()> task) override
    {
        std::lock_guard lock(m_mutex);
        m_tasks.push_back(std::move(task));
    }
    bool isMainThread() const override { return std::this_thread::get_id() == m_mainThread; }

    // Runs queued tasks, including those they post, until none is left. Answers how many ran.
    size_t runPending()
    {
        size_t ran = 0;
        for (auto task = take(); task; task = take(), ++ran)
            task();
        return ran;
    }

private:
    std::function<void()> take()
    {
        std::lock_guard lock(m_mutex);
        if (m_tasks.empty())
            return nullptr;
        auto task = std::move(m_tasks.front());
        m_tasks.pop_front();
        return task;
    }

    const std::thread::id m_mainThread = std::this_thread::get_id();
    std::mutex m_mutex;
    std::deque<std::function<void()>> m_tasks;
};

// An application environment over a fresh temporary folder, removed again on destruction:
//   <root>/resources    resourcePath (config.xml, www/)
//   <root>/data         applicationSupportDirectory
//   <root>/cache        cachesDirectory
//   <root>/documents    documentsDirectory
//   <root>/tmp          temporaryDirectory
class FakeAppEnvironment : public platform::AppEnvironment {
public:
    FakeAppEnvironment()
    {
        for (const char* sub : { "resources", "data", "cache", "documents", "tmp" })
            std::filesystem::create_directories(m_root + "/" + sub);
    }

    std::string bundleIdentifier() const override { return "org.penwick.Test"; }
    std::string resourcePath() const override { return m_root + "/resources"; }
    std::optional<std::string> pathForResource(
        const std::string& name, const std::string& type, const std::string& subdirectory) const override
    {
        return m_resources.pathForResource(name, type, subdirectory);
    }
    Result<std::string> applicationSupportDirectory() const override { return directory("/data"); }
    std::string userDataPath() const override { return m_root + "/data"; }
    Result<std::string> cachesDirectory() const override { return directory("/cache"); }
    std::string documentsDirectory() const override { return m_root + "/documents"; }
    std::string temporaryDirectory() const override { return m_root + "/tmp"; }

    // Writes a file below the resources folder (folders made as needed); answers its path.
    std::string writeResource(const std::string& relativePath, const std::string& contents) const
    {
        std::filesystem::path path = std::filesystem::path(resourcePath()) / relativePath;
        std::filesystem::create_directories(path.parent_path());
        std::ofstream(path, std::ios::binary | std::ios::trunc) << contents;
        return path.string();
    }
    // Makes the two fallible directory lookups fail with `error` (or succeed again with nothing).
    void setDirectoryFailure(std::optional<Error> error) { m_directoryFailure = std::move(error); }

private:
    Result<std::string> directory(const char* sub) const
    {
        if (m_directoryFailure)
            return *m_directoryFailure;
        return m_root + sub;
    }

    const TempDir m_dir;
    const std::string m_root = m_dir.path;
    // The app's own lookup of resources, not a copy of it.
    const platform::GLibAppEnvironment m_resources { "org.penwick.Test", m_root + "/resources" };
    std::optional<Error> m_directoryFailure;
};

// A background queue that holds what is submitted until the test runs it, if ever.
struct HeldWorkQueue : platform::WorkQueue {
    void submit(std::function<void()> task) override { tasks.push_back(std::move(task)); }
    std::vector<std::function<void()>> tasks;
};

// Dialogs that ask no one: every question is cancelled.
struct NoDialogs final : platform::Dialogs {
    void runAlert(const std::string&, const platform::DialogAsker&) override { }
    bool runConfirm(const std::string&, const platform::DialogAsker&) override { return false; }
    std::optional<std::string> runPrompt(const std::string&, const std::string&, const platform::DialogAsker&) override { return {}; }
    std::optional<std::vector<std::string>> runOpenPanel(platform::AllowMultipleFiles, const std::vector<std::string>&, const platform::DialogAsker&) override
    {
        return {};
    }
};

// The platform services as unit tests use them: a hand-turned main loop, background work held,
// an environment over a temporary folder and user defaults kept in it. Tests that need real
// threads build their own platform::Platform around a GLibWorkQueue.
struct TestPlatform {
    RecordingScheduler scheduler;
    HeldWorkQueue workQueue;
    FakeAppEnvironment environment;
    platform::KeyFileUserDefaults userDefaults { environment.temporaryDirectory() + "/user-defaults.ini" };
    platform::Platform platform { scheduler, workQueue, environment, userDefaults };
};

} // namespace penwick::test
