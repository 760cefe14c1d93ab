#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/DisplayServices.h"
#include "platform/Window.h"

// A desktop as the host meets it: the window, the screens it is on, the pointer and the clock.
namespace penwick::test {

// A window that records what the host asks of it, in order.
class RecordingWindow : public platform::Window {
public:
    enum class Call { SetBackground, ShowAndMakeKey, ActivateApplication, SetTitleBar, SetLevel, SetHidesOnDeactivate, SetFrame };
    void setBackgroundColor(platform::Rgba color) override { record(Call::SetBackground, background, color); }
    void showAndMakeKey() override { calls.push_back(Call::ShowAndMakeKey); }
    void activateApplication() override { calls.push_back(Call::ActivateApplication); }

    platform::TitleBar titleBar() const override { return m_titleBar; }
    void setTitleBar(platform::TitleBar titleBar) override { record(Call::SetTitleBar, m_titleBar, titleBar); }
    void setLevel(platform::WindowLevel) override { calls.push_back(Call::SetLevel); }
    void setHidesOnDeactivate(platform::HidesOnDeactivate) override { calls.push_back(Call::SetHidesOnDeactivate); }
    platform::Rect frame() const override { return m_frame; }
    void setFrame(platform::Rect frame) override { record(Call::SetFrame, m_frame, frame); }

    std::vector<Call> calls; // what the host asked, in order
    platform::Rgba background { -1, -1, -1, -1 }; // the last background set

private:
    template <typename T> void record(Call call, T& field, T value)
    {
        field = value;
        calls.push_back(call);
    }

    platform::TitleBar m_titleBar = platform::TitleBar::Shown;
    platform::Rect m_frame { 100, 200, 1024, 768 };
};

// A screen layout given by the test; the main screen is named by its index in the list.
class FakeScreens : public platform::Screens {
public:
    FakeScreens(const std::vector<platform::Rect>& frames, size_t mainIndex)
        : m_main(mainIndex)
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

// A pointer and a clock that stands still, recording what is asked of them; activation handlers are
// kept so that the test can activate the application.
class RecordingDisplay : public platform::Pointer, public platform::Clock {
public:
    void hide() override { calls.push_back("hide"); }
    void show() override { calls.push_back("show"); }
    std::unique_ptr<platform::Registration> addLocalMovementMonitor(MovementHandler) override { return record("local monitor"); }
    std::unique_ptr<platform::Registration> addGlobalMovementMonitor(MovementHandler) override { return record("global monitor"); }
    std::unique_ptr<platform::Registration> observeDidBecomeActive(std::function<void()> handler) override
    {
        activations.push_back(std::move(handler));
        return std::make_unique<platform::Registration>();
    }
    double now() const override { return 1000; }
    std::unique_ptr<platform::Registration> scheduleRepeating(double, std::function<void()>) override { return record("timer"); }

    std::vector<std::string> calls;
    std::vector<std::function<void()>> activations;

private:
    std::unique_ptr<platform::Registration> record(const char* call)
    {
        calls.push_back(call);
        return std::make_unique<platform::Registration>();
    }
};

} // namespace penwick::test
