#pragma once

#include <vector>

#include "platform/Window.h"

namespace penwick::test {

// A window that records what the host asks of it, in order.
class RecordingWindow : public platform::Window {
public:
    enum class Call { SetBackground, ShowAndMakeKey, ActivateApplication };
    void setBackgroundColor(platform::Rgba color) override
    {
        m_background = color;
        m_calls.push_back(Call::SetBackground);
    }
    void showAndMakeKey() override { m_calls.push_back(Call::ShowAndMakeKey); }
    void activateApplication() override { m_calls.push_back(Call::ActivateApplication); }

    const std::vector<Call>& calls() const { return m_calls; }
    platform::Rgba background() const { return m_background; }

private:
    std::vector<Call> m_calls;
    platform::Rgba m_background { -1, -1, -1, -1 };
};

} // namespace penwick::test
