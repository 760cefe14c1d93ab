#include "display/ScreenUtils.h"

#include <algorithm>

namespace penwick {

std::vector<platform::Screen> ScreenUtils::sortedScreens(const platform::Screens& screens)
{
    auto sorted = screens.screens();
    std::stable_sort(sorted.begin(), sorted.end(),
        [](const platform::Screen& a, const platform::Screen& b) { return a.frame.x < b.frame.x; });
    return sorted;
}

std::vector<platform::Rect> ScreenUtils::sortedScreenRects(const platform::Screens& screens)
{
    auto main = screens.mainScreen();
    if (!main)
        return {};
    std::vector<platform::Rect> rects { main->frame };
    // Only screens lined up to the right with the same top edge; whether they touch is not
    // examined.
    for (const auto& screen : sortedScreens(screens)) {
        if (screen.id == main->id)
            continue;
        if (screen.frame.maxY() == main->frame.maxY() && screen.frame.x > main->frame.x)
            rects.push_back(screen.frame);
    }
    return rects;
}

platform::Rect ScreenUtils::fullScreenRect(const platform::Screens& screens)
{
    auto rects = sortedScreenRects(screens);
    if (rects.empty())
        return {};
    platform::Rect rect = rects.front();
    rect.width = 0;
    for (const auto& r : rects)
        rect.width += r.width;
    return rect;
}

} // namespace penwick
