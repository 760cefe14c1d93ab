#pragma once

#include <memory>

#include "platform/PopupWindow.h"

namespace penwick::platform {

// Makes popup windows, titled with the application's name; provided by the application host.
class PopupWindowFactory {
public:
    virtual ~PopupWindowFactory() = default;
    virtual std::unique_ptr<PopupWindow> createPopupWindow(int width, int height) = 0;
};

} // namespace penwick::platform
