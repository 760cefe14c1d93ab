#pragma once

#include <optional>
#include <string>
#include <vector>

namespace penwick::platform {

enum class AllowMultipleFiles { No, Yes };

// Who asks a page's question: the app's own content, or a document of another site, which must
// not pass for the app (its origin, "scheme://host[:port]", when known).
struct DialogAsker {
    enum class Kind { App, OtherSite };
    Kind kind = Kind::App;
    std::string origin {};
};

// The modal questions a page can ask: alerts, confirmations, text prompts and file choices. Each
// call returns once the user has answered; page script waits meanwhile. Button titles are "OK"
// and "Cancel"; the first is the confirming one. A question of another site's document names it.
class Dialogs {
public:
    virtual ~Dialogs() = default;
    virtual void runAlert(const std::string& message, const DialogAsker& asker = {}) = 0;
    // True when the first button ("OK") was pressed.
    virtual bool runConfirm(const std::string& message, const DialogAsker& asker = {}) = 0;
    // The field's text when confirmed (possibly empty), nothing when cancelled.
    virtual std::optional<std::string> runPrompt(const std::string& message, const std::string& defaultText, const DialogAsker& asker = {}) = 0;
    // Full paths of the chosen files or folders in the order chosen, nothing when cancelled.
    // `accept` (MIME types, "image/*", ".png") is what the page asked for: offered as the panel's
    // first filter, a hint the user may set aside.
    virtual std::optional<std::vector<std::string>> runOpenPanel(
        AllowMultipleFiles multiple, const std::vector<std::string>& accept, const DialogAsker& asker = {}) = 0;
};

} // namespace penwick::platform
