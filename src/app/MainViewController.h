#pragma once

#include "host/WHViewController.h"

namespace penwick {

// The application's own controller, the one the window layout creates.
class MainViewController : public WHViewController {
public:
    explicit MainViewController(platform::Platform& platform) : WHViewController(platform), m_platform(platform) { }
    void awakeFromNib() override { WHViewController::awakeFromNib(); }

    // Menu actions: the product web site and its documents page in the user's browser.
    void visitWebsite();
    void visitHelpsite();

private:
    void openInSystem(const char* url);

    platform::Platform& m_platform;
};

} // namespace penwick
