#pragma once

#include <vector>

#include "platform/Window.h"

namespace penwick::test {

// A window that records what the host asks of it, in order.
class RecordingWindow : public platform::Window {
public:
    enum class Call { SetBackground, ShowAndMakeKey, ActivateApplication, SetTitleBar, SetLevel, SetHidesOnDeactivate, SetFrame };
    void setBackgroundColor(platform::Rgba color) override { record(Call::SetBackground, m_background, color); }
    void showAndMakeKey() override { m_calls.push_back(Call::ShowAndMakeKey); }
    void activateApplication() override { m_calls.push_back(Call::ActivateApplication); }

    platform::TitleBar titleBar() const override { return m_titleBar; }
    void setTitleBar(platform::TitleBar titleBar) override { record(Call::SetTitleBar, m_titleBar, titleBar); }
    void setLevel(platform::WindowLevel) override { m_calls.push_back(Call::SetLevel); }
    void setHidesOnDeactivate(platform::HidesOnDeactivate) override { m_calls.push_back(Call::SetHidesOnDeactivate); }
    platform::Rect frame() const override { return m_frame; }
    void setFrame(platform::Rect frame) override { record(Call::SetFrame, m_frame, frame); }

    const std::vector<Call>& calls() const { return m_calls; }
    platform::Rgba background() const { return m_background; }

private:
    template<typename T>
    void record(Call call, T& field, T value)
    {
        field = value;
        m_calls.push_back(call);
    }

    std::vector<Call> m_calls;
    platform::Rgba m_background { -1, -1, -1, -1 };
    platform::TitleBar m_titleBar = platform::TitleBar::Shown;
    platform::Rect m_frame { 100, 200, 1024, 768 };
};

} // namespace penwick::test
