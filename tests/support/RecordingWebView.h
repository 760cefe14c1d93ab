#pragma once

#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/WebView.h"

namespace penwick::test {

// A web view that records what the host asks of it. Evaluation is recorded under a lock, as a
// faulty host may evaluate from another thread.
class RecordingWebView : public platform::WebView {
public:
    void loadRequest(const std::string& url) override { loads.push_back(url); }
    void loadHTMLString(const std::string&) override { }
    void evaluateScript(const std::string& script) override
    {
        std::lock_guard lock(m_mutex);
        m_scripts.push_back(script);
    }
    void evaluateAnswer(const std::string& script, std::uint64_t contextId) override
    {
        answerContexts.push_back(contextId);
        evaluateScript(script);
    }
    bool evaluateInAppDocument(const std::string& script) override
    {
        evaluateScript(script);
        return true;
    }
    platform::WebPreferences preferences() const override { return prefs; }
    void setPreferences(const platform::WebPreferences& preferences) override { prefs = preferences; }
    void setDrawsBackground(platform::DrawsBackground draws) override { drawsBackground = draws; }
    void acceptAllCookies() override { }
    bool takesEncodedAnswers() const override { return encodedAnswers; }
    Result<platform::NativeCallbackDelivery> deliverEncodedAnswer(const platform::EncodedAnswer& answer) override
    {
        payloads.push_back(answer.payload.joined());
        return platform::NativeCallbackDelivery::Sent;
    }

    std::vector<std::string> scripts() const
    {
        std::lock_guard lock(m_mutex);
        return m_scripts;
    }

    // Main-thread records, read and reset by the test directly.
    std::vector<std::string> loads; // the URLs
    std::vector<std::uint64_t> answerContexts; // the document of each answer
    platform::WebPreferences prefs;
    std::optional<platform::DrawsBackground> drawsBackground;
    bool encodedAnswers = false; // answers as channel payloads, as the real view takes them; set before the host has the view
    std::vector<std::string> payloads; // the answers taken as payloads

private:
    mutable std::mutex m_mutex;
    std::vector<std::string> m_scripts;
};

} // namespace penwick::test
