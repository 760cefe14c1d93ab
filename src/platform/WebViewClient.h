#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "base/Value.h"
#include "platform/Dialogs.h"
#include "platform/PermissionRequest.h"

namespace penwick::platform {

// A native object that page script calls as `hostbridge.exec(callbackId, service, action, args)`.
// The four values arrive as the page passed them, converted to values (byte buffers among the
// arguments as binary values), and are the object's to keep; the call runs on the main thread
// while the page waits, and the page goes on when it returns.
class ScriptBridgeObject {
public:
    virtual ~ScriptBridgeObject() = default;
    virtual void exec(Value callbackId, Value service, Value action, Value arguments) = 0;
    // A call that never reached the host whole (its arguments exceed what the page channel
    // carries): answers `callbackId` with an error result saying `why`, as a plugin would.
    virtual void execRefused(const Value& callbackId, const std::string& why) = 0;
};

// The console functions page script can call on a console object the host installed.
enum class ConsoleLevel { Log, Trace, Debug, Info, Warn, Error };

class ScriptConsoleObject {
public:
    virtual ~ScriptConsoleObject() = default;
    // `value` is nothing when the page passed undefined (or nothing).
    virtual void call(ConsoleLevel level, const std::optional<Value>& value) = 0;
};

// Whether the window's `hostbridge` is set in the page, or only kept by the host so that a call
// claiming to come from the window is answered (and refused) by it.
enum class BridgeExposure { Installed, Withheld };

// Who put a document in its frame: the host or the app's own content (the main frame's previous
// document, or the frame's parent), or anything else.
enum class DocumentOpener { App, Other };

// A frame's fresh window object, as the web view offers it to its client before any of the
// frame's own script runs. The client fills in what the window gets.
struct WindowObject {
    std::uint64_t contextId = 0;
    bool mainFrame = false;
    std::string url;
    // For an "about:" document that shares its parent's origin: the parent document's URL.
    std::string owner;
    // The document's origin is opaque (a sandboxed frame, a data: URL).
    bool opaqueOrigin = false;
    DocumentOpener opener = DocumentOpener::Other;

    // Set as the window's `console`, replacing the engine's own.
    std::shared_ptr<ScriptConsoleObject> console;
    // Set as the window's `hostbridge` (with its one function, exec).
    std::shared_ptr<ScriptBridgeObject> hostbridge;
    BridgeExposure bridgeExposure = BridgeExposure::Installed;
    // The document is the app's own content: documents it opens count as opened by the app.
    bool appContent = false;
    // Evaluated in the window, in order, right after the objects above are set.
    std::vector<std::string> scripts;
    // Evaluated in the window when the frame has finished loading; the value is discarded.
    std::optional<std::string> loadScript;
};

// A message of the engine's own console (script errors among them).
struct ConsoleMessage {
    std::string sourceURL;
    long lineNumber = 0;
    std::string message;
    ConsoleLevel level = ConsoleLevel::Error;
};

enum class PolicyDecision { Use, Ignore };

// How a navigation came about, as far as the engine says.
enum class NavigationKind { Link, Form, BackForward, Reload, Other };
enum class UserGesture { No, Yes };

// A navigation of the page, in the main frame or one of its frames (the engine does not say which).
struct NavigationRequest {
    std::string url;
    NavigationKind kind = NavigationKind::Other;
    UserGesture gesture = UserGesture::No;
    // The main frame's document shown now.
    std::string currentURL;
    // The URL came with a drop on the view that the page did not take: the engine shows it.
    bool dropped = false;
    // The documents the page's other frames show.
    std::vector<std::string> frameURLs;
};

// A page's window.open or link with a target: the URL, whether the user asked, and whether every
// document of the page is the app's own (the engine does not say which frame asked).
struct NewWindowRequest {
    std::string url;
    UserGesture gesture = UserGesture::No;
    DocumentOpener opener = DocumentOpener::Other;
};
// Who may have chosen where the main frame goes: its own document, the user or the host; or maybe a
// frame of another origin inside the page (one the user has interacted with, which the engine lets
// navigate the top; the engine does not say which frame started a navigation).
enum class NavigationChooser { PageOrUser, MaybeForeignFrame };

// Where the application's own pages may read through file: URLs: their web content folder, or the
// whole disk when the application chose to reach it anyway (the file plugin's "root" file system).
// Besides, the folders of the file plugin's file systems: their files play in media elements
// through file: URLs, so the sandboxed web process must read them too.
struct FileReach {
    std::string contentFolder;
    bool wholeDisk = false;
    std::vector<std::string> servedFolders;
};

// What the web view asks of the host while it shows pages: frame set-up, console, navigation
// policy and the page's modal questions. Called on the main thread.
class WebViewClient {
public:
    virtual ~WebViewClient() = default;
    virtual void didClearWindowObject(WindowObject& window) = 0;
    virtual void addMessageToConsole(const ConsoleMessage& message) = 0;
    // Asked for every navigation, the main frame's and its frames' alike.
    virtual PolicyDecision decidePolicyForNavigation(const std::string& url) = 0;
    // The same with what the engine tells of how it came about.
    virtual PolicyDecision decideNavigation(const NavigationRequest& request) { return decidePolicyForNavigation(request.url); }
    // Whether the main frame, showing `shownURL`, may show the document at `url`, asked when its
    // response has come.
    virtual PolicyDecision decideMainFrameDocument(const std::string& /*url*/, const std::string& /*shownURL*/, NavigationChooser)
    {
        return PolicyDecision::Use;
    }
    // The main frame (only it) starts loading `url`, or is redirected there.
    virtual void didStartMainFrameLoad(const std::string& /*url*/) { }
    // The same, saying who may have chosen the navigation.
    virtual void didStartMainFrameNavigation(const std::string& url, NavigationChooser /*chooser*/) { didStartMainFrameLoad(url); }
    // Whether the main frame's document at `url` may read files of its own folder (modules,
    // workers, fetch of its files). Asked before each main-frame document is made.
    virtual bool allowsFileAccess(const std::string& /*url*/) { return false; }
    virtual FileReach fileReach() { return {}; }
    // The page's questions; `asker` says whether the app's own content asks or another site's.
    virtual void runJavaScriptAlertPanel(const std::string& message, const DialogAsker& asker) = 0;
    virtual bool runJavaScriptConfirmPanel(const std::string& message, const DialogAsker& asker) = 0;
    virtual bool runBeforeUnloadConfirmPanel(const std::string& message, const DialogAsker& asker) = 0;
    virtual std::optional<std::string> runJavaScriptTextInputPanel(const std::string& prompt, const std::string& defaultText,
        const DialogAsker& asker) = 0;
    virtual std::optional<std::vector<std::string>> runOpenPanel(
        AllowMultipleFiles multiple, const std::vector<std::string>& accept, const DialogAsker& asker) = 0;
    // The page asked for a new window (window.open, a link with target="_blank"). The web view
    // never opens one itself; the page's window.open answers null.
    virtual void openNewWindow(const NewWindowRequest& /*request*/) { }
    // The zoom level of the main frame changed at the user's request (keys, Ctrl+wheel).
    virtual void zoomLevelChanged(double /*level*/) { }
    // The engine asks on a page's behalf for something the app must allow (clipboard, notifications,
    // geolocation, ...). The client logs what it denies.
    virtual PermissionAnswer decidePermission(const PermissionRequest&) { return PermissionAnswer::Deny; }
    // The origins ("scheme://host[:port]") of the app's own documents: what they ask for in their
    // own name (notifications) is granted before they ask.
    virtual std::vector<std::string> appDocumentOrigins() { return {}; }
};

} // namespace penwick::platform
