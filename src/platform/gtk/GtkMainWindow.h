#pragma once

#include <gtk/gtk.h>
#include <string>

#include "platform/Window.h"

namespace penwick::platform {

// The main window: a top-level window whose single child is the web view's container.
class GtkMainWindow final : public Window {
public:
    GtkMainWindow(GtkApplication* application, const std::string& title, int width, int height);
    ~GtkMainWindow() override;

    void setBackgroundColor(Rgba color) override;
    void showAndMakeKey() override;
    void activateApplication() override;

    GtkWindow* window() const { return m_window; }
    // The container the web view fills.
    GtkWidget* contentContainer() const { return m_content; }

private:
    GtkWindow* m_window = nullptr; // owned by GTK's top-level list and the application
    GtkWidget* m_content = nullptr;
    GtkCssProvider* m_css = nullptr;
};

} // namespace penwick::platform
