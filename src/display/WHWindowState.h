#pragma once

#include <memory>

#include "platform/Registration.h"
#include "platform/Screens.h"
#include "platform/UserDefaults.h"
#include "platform/Window.h"

namespace penwick {

// The size, position and maximised state of a window without a configured size, kept in the
// application's user defaults across runs. Full screen is never kept: it comes from the
// configuration only. Main thread only.
class WHWindowState {
public:
    static constexpr const char* kFrameKey = "WHWindowFrame";
    static constexpr const char* kMaximizedKey = "WHWindowMaximized";

    WHWindowState(platform::Window& window, platform::UserDefaults& defaults, const platform::Screens& screens);
    // Puts the window back where the last run left it: the size always, the position when its
    // title bar is on a screen that is still attached.
    void restore();
    // Keeps every settled change from now on.
    void track();

private:
    void save();

    platform::Window& m_window;
    platform::UserDefaults& m_defaults;
    const platform::Screens& m_screens;
    std::unique_ptr<platform::Registration> m_changes;
};

} // namespace penwick
