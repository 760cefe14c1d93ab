#include "display/WHWindowState.h"

#include <cmath>
#include <cstdio>

#include "base/Log.h"

namespace penwick {
namespace {

// Height of the strip along the frame's top that must be on a screen for the title bar to be
// reachable.
constexpr double kTitleStrip = 24;
// Larger sides are a damaged store, not a window.
constexpr double kMaxSide = 32768;

std::optional<platform::Rect> parseFrame(const std::string& text)
{
    platform::Rect r;
    char rest = 0;
    if (std::sscanf(text.c_str(), "%lf %lf %lf %lf %c", &r.x, &r.y, &r.width, &r.height, &rest) != 4)
        return std::nullopt;
    for (double v : { r.x, r.y, r.width, r.height }) {
        if (!std::isfinite(v) || std::fabs(v) > kMaxSide)
            return std::nullopt;
    }
    if (r.width < 1 || r.height < 1)
        return std::nullopt;
    return r;
}

bool intersects(const platform::Rect& a, const platform::Rect& b)
{
    return a.x < b.x + b.width && b.x < a.x + a.width && a.y < b.maxY() && b.y < a.maxY();
}

} // namespace

WHWindowState::WHWindowState(platform::Window& window, platform::UserDefaults& defaults, const platform::Screens& screens)
    : m_window(window)
    , m_defaults(defaults)
    , m_screens(screens)
{
}

void WHWindowState::restore()
{
    auto text = m_defaults.stringForKey(kFrameKey);
    auto saved = text ? parseFrame(*text) : std::nullopt;
    if (text && !saved)
        log::message("window state: the kept frame '" + *text + "' is not x y width height; the window keeps its layout");
    if (saved) {
        // Frames are y up: the title bar is the top strip.
        platform::Rect title { saved->x, saved->maxY() - kTitleStrip, saved->width, kTitleStrip };
        bool onScreen = false;
        for (const auto& screen : m_screens.screens())
            onScreen |= intersects(title, screen.frame);
        platform::Rect frame = m_window.frame();
        frame.width = saved->width;
        frame.height = saved->height;
        if (onScreen) {
            frame.x = saved->x;
            frame.y = saved->y;
        } else {
            // Keeps the layout's top edge, as the window manager would place it.
            frame.y = m_window.frame().maxY() - saved->height;
        }
        m_window.setFrame(frame);
    }
    if (m_defaults.boolForKey(kMaximizedKey))
        m_window.setMaximized(platform::Maximized::Yes);
}

void WHWindowState::track()
{
    m_changes = m_window.onFrameChanged([this] { save(); });
}

void WHWindowState::save()
{
    // Full screen (no title bar) is the configuration's, not the user's.
    if (m_window.titleBar() == platform::TitleBar::Hidden)
        return;
    bool maximized = m_window.maximized() == platform::Maximized::Yes;
    Result<void> written;
    // A maximised window keeps the frame it returns to.
    if (!maximized) {
        platform::Rect f = m_window.frame();
        char text[128];
        std::snprintf(text, sizeof text, "%.0f %.0f %.0f %.0f", f.x, f.y, f.width, f.height);
        if (m_defaults.stringForKey(kFrameKey) != text)
            written = m_defaults.setString(kFrameKey, text);
    }
    if (written && m_defaults.boolForKey(kMaximizedKey) != maximized)
        written = m_defaults.setBool(kMaximizedKey, maximized);
    if (!written)
        log::message("window state: not kept: " + written.error().message);
}

} // namespace penwick
