#include "app/AppDelegate.h"

namespace penwick {

AppDelegate::AppDelegate() = default;
AppDelegate::~AppDelegate() = default;

void AppDelegate::applicationWillFinishLaunching()
{
    // The controller registered for will-finish-launching at initialisation.
    if (m_viewController)
        m_viewController->onAppDidFinishLaunching();
}

} // namespace penwick
