#include "app/MainViewController.h"

#include "BuildConfig.h"
#include "base/Log.h"
#include "platform/UrlOpener.h"

namespace penwick {

void MainViewController::visitWebsite() { openInSystem(build::kWebsiteURL); }

void MainViewController::visitHelpsite() { openInSystem(build::kDocumentsURL); }

void MainViewController::openInSystem(const char* url)
{
    if (auto* opener = m_platform.services.find<platform::UrlOpener>())
        opener->openURL(url);
    else
        log::warning(std::string("no system URL opener: ") + url);
}

} // namespace penwick
