#pragma once

#include "host/WHViewController.h"

namespace penwick {

// The application's own controller, the one the window layout creates.
class MainViewController : public WHViewController {
public:
    explicit MainViewController(platform::Platform& platform) : WHViewController(platform) { }
    void awakeFromNib() override { WHViewController::awakeFromNib(); }
};

} // namespace penwick
