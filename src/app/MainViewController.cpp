#include "app/MainViewController.h"

#include "base/Log.h"
#include "platform/UrlOpener.h"

namespace penwick {

void MainViewController::visitWebsite()
{
    if (m_pages.website.empty())
        return;
    if (auto* system = opener(m_pages.website))
        system->openURL(m_pages.website);
}

void MainViewController::visitHelpsite()
{
    if (m_pages.documents.empty()) {
        // An app that names no documents page has none: F1 stays quiet.
        if (m_pages.documentation.empty())
            return;
        if (auto* system = opener(m_pages.documentation))
            system->openHostFile(m_pages.documentation);
        return;
    }
    if (auto* system = opener(m_pages.documents))
        system->openURL(m_pages.documents);
}

platform::UrlOpener* MainViewController::opener(const std::string& what) const
{
    auto* opener = m_platform.services.find<platform::UrlOpener>();
    if (!opener)
        log::warning("no system URL opener: " + what);
    return opener;
}

} // namespace penwick
