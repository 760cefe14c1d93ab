#include "support/RecordingWindow.h"

namespace penwick::test {

void RecordingWindow::setBackgroundColor(platform::Rgba color)
{
    m_background = color;
    m_calls.push_back(Call::SetBackground);
}

} // namespace penwick::test
