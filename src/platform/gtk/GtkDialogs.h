#pragma once

#include <gtk/gtk.h>

#include "platform/Dialogs.h"

namespace penwick::platform {

// The page's questions as modal GTK dialogs over the host window, titled "Message", "Confirm",
// "Prompt" and "Open" (and with window roles "penwick-alert", "penwick-confirm", "penwick-prompt",
// "penwick-open") so that people and tools driving the desktop can tell them apart. A question of
// another site's document is titled with where it comes from ("Message from https://example.org").
class GtkDialogs final : public Dialogs {
public:
    explicit GtkDialogs(GtkWindow* parent) : m_parent(parent) { }

    void runAlert(const std::string& message, const DialogAsker& asker = {}) override;
    bool runConfirm(const std::string& message, const DialogAsker& asker = {}) override;
    std::optional<std::string> runPrompt(const std::string& message, const std::string& defaultText, const DialogAsker& asker = {}) override;
    std::optional<std::vector<std::string>> runOpenPanel(
        AllowMultipleFiles multiple, const std::vector<std::string>& accept, const DialogAsker& asker) override;

private:
    GtkWindow* m_parent;
};

} // namespace penwick::platform
