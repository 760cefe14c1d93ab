#pragma once

#include <optional>
#include <vector>

#include "platform/Screens.h"

namespace penwick::test {

// A screen layout given by the test; the main screen is named by its index in the list.
class FakeScreens : public platform::Screens {
public:
    FakeScreens(const std::vector<platform::Rect>& frames, size_t mainIndex) : m_main(mainIndex)
    {
        for (size_t i = 0; i < frames.size(); ++i)
            m_screens.push_back({ static_cast<int>(i), frames[i] });
    }
    std::vector<platform::Screen> screens() const override { return m_screens; }
    std::optional<platform::Screen> mainScreen() const override
    {
        if (m_main >= m_screens.size())
            return std::nullopt;
        return m_screens[m_main];
    }

private:
    std::vector<platform::Screen> m_screens;
    size_t m_main;
};

} // namespace penwick::test
