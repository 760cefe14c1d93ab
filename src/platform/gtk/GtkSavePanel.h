#pragma once

#include <gtk/gtk.h>
#include <string>

#include "platform/SavePanel.h"

namespace penwick::platform {

// The save panel as a modal GTK file chooser over the host window, titled "Save" (window role
// "penwick-save"), asking before it replaces a file; errors as a modal message titled "Error"
// (role "penwick-error"). It opens in the folder last saved to in this run; before that, in the
// user's documents folder, or home.
class GtkSavePanel final : public SavePanel {
public:
    explicit GtkSavePanel(GtkWindow* parent) : m_parent(parent) { }

    std::optional<std::string> runSavePanel(const std::string& proposedName) override;
    void runErrorAlert(const std::string& message) override;

private:
    GtkWindow* m_parent;
    std::string m_lastFolder;
};

} // namespace penwick::platform
