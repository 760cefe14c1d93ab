#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/Dialogs.h"
#include "platform/DisplayServices.h"
#include "platform/FileSchemeResponder.h"
#include "platform/Scheduler.h"
#include "platform/PopupWindowFactory.h"
#include "platform/SavePanel.h"
#include "platform/WebView.h"
#include "platform/Window.h"
#include "platform/WorkQueue.h"

namespace penwick::platform {

// What the command line asked for.
struct LaunchOptions {
    std::string resourcePath;
    // The resource folder was named on the command line (it is then an absolute path).
    bool resourcesGiven = false;
    // Load the start page, write a PNG of it and/or its HTML, and exit.
    std::optional<std::string> screenshotPath;
    std::optional<std::string> dumpDomPath;
    // The command line as given, program name first: a second launch hands it to the running
    // instance.
    std::vector<std::string> arguments;
    // How long a capture waits for the loaded page to settle, in seconds.
    double captureTimeout = 10;
    // A development server's page (http or https) to start on instead of the start page, for this
    // run only; its origin may call native code for the run.
    std::optional<std::string> devURL;
    // The engine's developer tools for this run, whatever the user defaults say (--dev).
    DeveloperExtras developerExtras = DeveloperExtras::Off;
    // The host's documentation (README.md), found like the resources.
    std::string documentationPath;
    // --version: print the app's version and the host's, once the app's config.xml is read, and exit.
    bool printVersion = false;
    bool capturing() const { return screenshotPath || dumpDomPath; }
};

// The application's side of the lifecycle, called on the main loop.
class ApplicationLifecycle {
public:
    virtual ~ApplicationLifecycle() = default;
    // Once, before the first activation: build the windows and the host.
    virtual void startup() = 0;
    // On every activation; the first one is the end of launching.
    virtual void activate() = 0;
};

// The desktop as the application sees it: its lifecycle, and the factories of its main window,
// web view, dialogs and popup windows. Main thread only.
class ApplicationHost : public PopupWindowFactory {
public:
    virtual ~ApplicationHost() = default;
    // Runs the main loop, calling `lifecycle`, until quit(); the process's exit status. One
    // instance runs per application id: when one already runs, it is asked to show its window
    // again (with `options`' arguments) and this one ends without calling `lifecycle`.
    virtual int run(ApplicationLifecycle& lifecycle, const LaunchOptions& options) = 0;
    // Ends the main loop; run() then answers `exitCode` (unless the loop itself failed).
    virtual void quit(int exitCode) = 0;

    virtual std::unique_ptr<Window> createMainWindow(const std::string& title, int width, int height) = 0;
    // A web view filling `window`, which must come from createMainWindow().
    virtual std::unique_ptr<WebView> createWebView(Window& window) = 0;
    // Modal dialogs over `parent`.
    virtual std::unique_ptr<Dialogs> createDialogs(Window& parent) = 0;
    // The save panel and its error message over `parent`, which must come from createMainWindow().
    virtual std::unique_ptr<SavePanel> createSavePanel(Window& parent) = 0;
    // The screens, pointer and clock of this desktop; they live as long as the host.
    virtual DisplayServices& displayServices() = 0;
    // An application action, run on the main loop when one of `accelerators` (e.g. "F11",
    // "<Control>r") is pressed in one of the application's windows or a menu entry names it. A key
    // bound to an action never reaches the page.
    virtual void addAction(const std::string& name, const std::vector<std::string>& accelerators, std::function<void()> handler) = 0;
    // Appends an entry titled `label` that runs the action `name` (from addAction()) to the
    // application menu.
    virtual void addMenuItem(const std::string& label, const std::string& name) = 0;
    // Brings a window that is already shown to the front again.
    virtual void present(Window& window) = 0;
    // When `webView` (from createWebView()) has loaded its main frame, writes what `options` ask
    // for and quits: with 0 when all was written, 1 when something failed or the page did not
    // load in time.
    virtual void captureWhenLoaded(WebView& webView, const LaunchOptions& options) = 0;
    // The start page could not be shown (`reason` says why): a capture still writes what the web
    // view shows, then quits with 1.
    virtual void startPageFailed(const std::string& reason) = 0;
    // Serves the rules' scheme in every web view from the files `source` finds, doing the file work
    // on `workQueue`. Call once per scheme before the first web view loads. `source` outlives the host.
    virtual void serveFiles(const SchemeRules& rules, const FileSource& source, WorkQueue& workQueue,
        Scheduler& scheduler) = 0;
};

} // namespace penwick::platform
