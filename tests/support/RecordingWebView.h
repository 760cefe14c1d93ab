#pragma once

#include <chrono>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/WebView.h"

namespace penwick::test {

// A web view that records what the host asks of it. Safe to read from the test thread while
// other threads call it (they should not: evaluation belongs on the main thread, and
// evaluatedOnThreads() lets a test check that).
class RecordingWebView : public platform::WebView {
public:
    struct Load {
        std::string url;
        std::chrono::seconds timeout;
    };

    void loadRequest(const std::string& url, std::chrono::seconds timeout) override;
    void loadHTMLString(const std::string& html) override;
    void evaluateScript(const std::string& script) override;
    platform::WebPreferences preferences() const override;
    void setPreferences(const platform::WebPreferences& prefs) override;
    void setDrawsBackground(platform::DrawsBackground draws) override;
    void acceptAllCookies() override;

    std::vector<Load> loads() const;
    std::vector<std::string> htmlStrings() const;
    std::vector<std::string> scripts() const;
    std::vector<std::thread::id> evaluatedOnThreads() const;
    // Forgets what was loaded and evaluated.
    void clear();
    int setPreferencesCount() const;
    std::optional<platform::DrawsBackground> drawsBackground() const;
    int acceptAllCookiesCount() const;

private:
    mutable std::mutex m_mutex;
    std::vector<Load> m_loads;
    std::vector<std::string> m_html;
    std::vector<std::string> m_scripts;
    std::vector<std::thread::id> m_scriptThreads;
    platform::WebPreferences m_prefs;
    int m_setPreferencesCount = 0;
    std::optional<platform::DrawsBackground> m_drawsBackground;
    int m_acceptAllCookies = 0;
};

} // namespace penwick::test
