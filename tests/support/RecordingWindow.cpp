#include "support/RecordingWindow.h"

namespace penwick::test {

void RecordingWindow::setBackgroundColor(platform::Rgba color)
{
    m_background = color;
    m_calls.push_back(Call::SetBackground);
}

void RecordingWindow::setTitleBar(platform::TitleBar titleBar)
{
    m_titleBar = titleBar;
    m_calls.push_back(Call::SetTitleBar);
}

void RecordingWindow::setLevel(platform::WindowLevel level)
{
    m_level = level;
    m_calls.push_back(Call::SetLevel);
}

void RecordingWindow::setHidesOnDeactivate(platform::HidesOnDeactivate hides)
{
    m_hides = hides;
    m_calls.push_back(Call::SetHidesOnDeactivate);
}

void RecordingWindow::setFrame(platform::Rect frame)
{
    m_frame = frame;
    m_calls.push_back(Call::SetFrame);
}

} // namespace penwick::test
