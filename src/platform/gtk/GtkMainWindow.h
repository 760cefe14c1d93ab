#pragma once

#include <gtk/gtk.h>
#include <memory>
#include <string>

#include "platform/Window.h"

namespace penwick::platform {

class GtkWindowFrame;

// The main window: a top-level window whose single child is the web view's container.
class GtkMainWindow final : public Window {
public:
    GtkMainWindow(GtkApplication* application, const std::string& title, int width, int height);
    ~GtkMainWindow() override;

    void setBackgroundColor(Rgba color) override;
    void showAndMakeKey() override;
    void activateApplication() override;
    TitleBar titleBar() const override;
    void setTitleBar(TitleBar titleBar) override;
    void setLevel(WindowLevel level) override;
    void setHidesOnDeactivate(HidesOnDeactivate hides) override;
    Rect frame() const override;
    void setFrame(Rect frame) override;
    Maximized maximized() const override;
    void setMaximized(Maximized maximized) override;
    std::unique_ptr<Registration> onFrameChanged(std::function<void()> changed) override;

    GtkWindow* window() const { return m_window; }
    // The container the web view fills.
    GtkWidget* contentContainer() const { return m_content; }

private:
    GtkWindow* m_window = nullptr; // owned by GTK's top-level list and the application
    GtkWidget* m_content = nullptr;
    GtkCssProvider* m_css = nullptr;
    std::unique_ptr<GtkWindowFrame> m_frame;
};

} // namespace penwick::platform
