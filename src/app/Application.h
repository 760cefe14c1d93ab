#pragma once

#include <memory>

#include "platform/ApplicationHost.h"
#include "platform/glib/InstallLayout.h"
#include "platform/Platform.h"
#include "platform/DeviceFacts.h"
#include "platform/UrlOpener.h"
#include "plugins/file/WHFilePluginSlot.h"

namespace penwick {

class AppDelegate;
class WHAppSchemeSource;
class WHWebViewDelegate;

// The composition root: which objects the application has and who owns whom. It builds the
// platform services, the main window layout (window, web view filling it, controller, web view
// delegate, dialogs) and drives start-up in the host's order through the platform's lifecycle.
class Application final : public platform::ApplicationLifecycle {
public:
    Application(platform::ApplicationHost& host, platform::AppIdentity identity, platform::LaunchOptions options);
    ~Application() override;
    Application(const Application&) = delete;
    Application& operator=(const Application&) = delete;

    // Builds of the app for end-to-end tests answer the page's questions from a script instead of
    // real dialogs. Call before run().
    void setDialogsForTesting(std::unique_ptr<platform::Dialogs> dialogs) { m_dialogs = std::move(dialogs); }
    // ... and hand URLs meant for the system browser to this opener. Call before run().
    void setUrlOpenerForTesting(std::unique_ptr<platform::UrlOpener> opener) { m_urlOpener = std::move(opener); }

    // Runs the application until it quits; the process's exit status.
    int run();

    // What the config.xml of the app run from `resourcePath` says of it, read once before it starts;
    // its id only when the app is not the built-in one (run with --resources).
    enum class IdFrom { BuiltIn, Config };
    struct OwnConfig {
        // Its widget id when that is a valid application id, else `builtInId`.
        std::string id;
        std::optional<std::string> name, version;
        // Its start page names the app origin, or the preference AppOrigin is true.
        bool appOrigin = false;
        // The file is there but broke off before its widget element: why, else empty.
        std::string unreadable;
    };
    static OwnConfig ownConfig(const std::string& resourcePath, const std::string& builtInId, IdFrom idFrom);

    void startup() override;
    void activate() override;

private:
    platform::ApplicationHost& m_host;
    platform::AppIdentity m_identity;
    platform::LaunchOptions m_options;
    std::unique_ptr<platform::Scheduler> m_scheduler;
    std::unique_ptr<platform::AppEnvironment> m_environment;
    std::unique_ptr<platform::UserDefaults> m_userDefaults;
    std::unique_ptr<platform::Platform> m_platform;
    std::unique_ptr<platform::Dialogs> m_dialogs;
    // The sources the schemes serve from; each wrapping source after the one it wraps.
    std::unique_ptr<WHAppSchemeSource> m_appFiles;
    // Where the file plugin publishes itself for the whfile scheme.
    WHFilePluginSlot m_filePluginSlot;
    std::unique_ptr<platform::FileSource> m_appSource;
    std::unique_ptr<platform::FileSource> m_fileSystems;
    std::unique_ptr<platform::FileSource> m_fileSource;
    std::unique_ptr<platform::SavePanel> m_savePanel;
    std::unique_ptr<platform::UrlOpener> m_urlOpener;
    std::unique_ptr<platform::DeviceFacts> m_deviceFacts;
    std::unique_ptr<WHWebViewDelegate> m_webViewDelegate;
    std::unique_ptr<AppDelegate> m_appDelegate;
    bool m_launched = false;
    // Set when a capture was asked for but nothing can load.
    bool m_nothingToCapture = false;
    // Last, so that it goes first: work still queued at exit runs while the file source, the
    // platform and the plugins it reaches are all still there.
    std::unique_ptr<platform::WorkQueue> m_workQueue;
};

} // namespace penwick
