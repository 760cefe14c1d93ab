#pragma once

#include <memory>
#include <optional>
#include <string>

#include "host/WHViewController.h"
#include "platform/WebView.h"
#include "support/TestPlatform.h"

namespace penwick::fuzz {

// A web view that keeps only the last script it was asked to run, so that a fuzzer running
// millions of calls does not grow.
class LastScriptWebView : public platform::WebView {
public:
    void loadRequest(const std::string&) override { }
    void loadHTMLString(const std::string&) override { }
    void evaluateScript(const std::string& script) override
    {
        ++evaluated;
        lastScript = script;
    }
    platform::WebPreferences preferences() const override { return m_prefs; }
    void setPreferences(const platform::WebPreferences& prefs) override { m_prefs = prefs; }
    void setDrawsBackground(platform::DrawsBackground) override { }
    void acceptAllCookies() override { }

    size_t evaluated = 0;
    std::string lastScript;

private:
    platform::WebPreferences m_prefs;
};

// The real controller, command queue, command delegate and plugin registry over the recording
// platform, with the service "Echo" mapped to a plugin whose action "echo" answers the callback
// with the call's arguments.
class FuzzHost {
public:
    static constexpr const char* kService = "Echo";
    static constexpr const char* kAction = "echo";

    FuzzHost();
    ~FuzzHost();
    // The one host of a fuzzer's run, made on first use and never destroyed (libFuzzer exits
    // without unwinding).
    static FuzzHost& shared();

    WHViewController& controller() { return *m_controller; }
    platform::WebView* webView() { return &m_webView; }
    // Runs the main-loop turns the calls queued; answers how many scripts were evaluated since the
    // last time it was asked.
    size_t settle();
    // How many answers the echo action sent to the page since the last time it was asked (calls
    // without a callback id, or with the one that wants no answer, get none).
    size_t takeAnswersDue();
    const std::string& lastScript() const { return m_webView.lastScript; }

private:
    test::TestPlatform m_platform;
    LastScriptWebView m_webView;
    std::unique_ptr<WHViewController> m_controller;
    size_t m_seenScripts = 0;
};

} // namespace penwick::fuzz
