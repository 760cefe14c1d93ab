#include "support/RecordingWebView.h"

namespace penwick::test {

void RecordingWebView::loadRequest(const std::string& url, std::chrono::seconds timeout)
{
    std::lock_guard lock(m_mutex);
    m_loads.push_back({ url, timeout });
}

void RecordingWebView::loadHTMLString(const std::string& html)
{
    std::lock_guard lock(m_mutex);
    m_html.push_back(html);
}

void RecordingWebView::evaluateScript(const std::string& script)
{
    std::lock_guard lock(m_mutex);
    m_scripts.push_back(script);
    m_scriptThreads.push_back(std::this_thread::get_id());
}

platform::WebPreferences RecordingWebView::preferences() const
{
    std::lock_guard lock(m_mutex);
    return m_prefs;
}

void RecordingWebView::setPreferences(const platform::WebPreferences& prefs)
{
    std::lock_guard lock(m_mutex);
    m_prefs = prefs;
    ++m_setPreferencesCount;
}

void RecordingWebView::setDrawsBackground(platform::DrawsBackground draws)
{
    std::lock_guard lock(m_mutex);
    m_drawsBackground = draws;
}

void RecordingWebView::acceptAllCookies()
{
    std::lock_guard lock(m_mutex);
    ++m_acceptAllCookies;
}

std::vector<RecordingWebView::Load> RecordingWebView::loads() const
{
    std::lock_guard lock(m_mutex);
    return m_loads;
}

std::vector<std::string> RecordingWebView::htmlStrings() const
{
    std::lock_guard lock(m_mutex);
    return m_html;
}

std::vector<std::string> RecordingWebView::scripts() const
{
    std::lock_guard lock(m_mutex);
    return m_scripts;
}

std::vector<std::thread::id> RecordingWebView::evaluatedOnThreads() const
{
    std::lock_guard lock(m_mutex);
    return m_scriptThreads;
}

void RecordingWebView::clear()
{
    std::lock_guard lock(m_mutex);
    m_loads.clear();
    m_html.clear();
    m_scripts.clear();
    m_scriptThreads.clear();
}

int RecordingWebView::setPreferencesCount() const
{
    std::lock_guard lock(m_mutex);
    return m_setPreferencesCount;
}

std::optional<platform::DrawsBackground> RecordingWebView::drawsBackground() const
{
    std::lock_guard lock(m_mutex);
    return m_drawsBackground;
}

int RecordingWebView::acceptAllCookiesCount() const
{
    std::lock_guard lock(m_mutex);
    return m_acceptAllCookies;
}

} // namespace penwick::test
