#include "display/WHWindowSizeCommand.h"

#include <glib.h>
#include <string>

#include "base/Log.h"
#include "display/ScreenUtils.h"

namespace penwick {
namespace {

platform::Rect& savedFrameStorage()
{
    static platform::Rect s_savedFrame;
    return s_savedFrame;
}

// "<what> W x H", each with one decimal and a decimal point whatever the user's locale.
std::string formatSize(const char* what, double width, double height)
{
    char w[G_ASCII_DTOSTR_BUF_SIZE], h[G_ASCII_DTOSTR_BUF_SIZE];
    return std::string(what) + g_ascii_formatd(w, sizeof w, "%.1f", width) + " x " + g_ascii_formatd(h, sizeof h, "%.1f", height);
}

} // namespace

void WHWindowSizeCommand::makeFullScreen(platform::Window& window, const platform::Screens& screens)
{
    platform::Rect rect = ScreenUtils::fullScreenRect(screens);
    log::message(formatSize("Full screen resolution: ", rect.width, rect.height));
    // Read before the title bar goes: while the window manager takes it away, the frame it
    // reports is neither the old one nor the new one.
    savedFrameStorage() = window.frame();
    window.setTitleBar(platform::TitleBar::Hidden);
    window.setHidesOnDeactivate(platform::HidesOnDeactivate::On);
    window.setLevel(platform::WindowLevel::StatusWindow);
    window.setFrame(rect);
}

void WHWindowSizeCommand::removeFullScreen(platform::Window& window)
{
    window.setTitleBar(platform::TitleBar::Shown);
    window.setHidesOnDeactivate(platform::HidesOnDeactivate::Off);
    window.setLevel(platform::WindowLevel::Normal);
    // Before any makeFullScreen there is no frame to return to: the window keeps its own rather
    // than collapsing to nothing.
    if (!savedFrameStorage().isEmpty())
        window.setFrame(savedFrameStorage());
}

void WHWindowSizeCommand::toggleFullScreen(platform::Window& window, const platform::Screens& screens)
{
    if (window.titleBar() == platform::TitleBar::Hidden)
        removeFullScreen(window);
    else
        makeFullScreen(window, screens);
}

void WHWindowSizeCommand::setSizeOfWindow(platform::Window& window, platform::Size size)
{
    log::message(formatSize("Set window size to ", size.width, size.height));
    platform::Rect frame = window.frame();
    frame.width = size.width;
    frame.height = size.height;
    window.setFrame(frame);
}

} // namespace penwick
