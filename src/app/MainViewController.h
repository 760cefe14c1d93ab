#pragma once

#include <string>

#include "host/WHViewController.h"
#include "platform/UrlOpener.h"

namespace penwick {

// The application's own controller, the one the window layout creates.
class MainViewController : public WHViewController {
public:
    explicit MainViewController(platform::Platform& platform) : WHViewController(platform), m_platform(platform) { }
    void awakeFromNib() override { WHViewController::awakeFromNib(); }

    // What the menu actions open: the app's web site and documents page, and the host's
    // documentation (a file) for an app that names no documents page.
    struct ProductPages {
        std::string website;
        std::string documents;
        std::string documentation;
    };
    void setProductPages(ProductPages pages) { m_pages = std::move(pages); }

    // Menu actions: the product web site and its documents page in the user's browser.
    void visitWebsite();
    void visitHelpsite();

private:
    platform::UrlOpener* opener(const std::string& what) const;

    platform::Platform& m_platform;
    ProductPages m_pages;
};

} // namespace penwick
