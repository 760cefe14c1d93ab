#pragma once

#include <optional>
#include <string>

namespace penwick::platform {

// The modal save panel over the host window, and the error shown when saving fails. Each call
// returns once the user has answered; page script waits meanwhile while the window keeps drawing.
class SavePanel {
public:
    virtual ~SavePanel() = default;
    // The chosen full path, nothing when cancelled. `proposedName` fills the name field; no file
    // types are imposed.
    virtual std::optional<std::string> runSavePanel(const std::string& proposedName) = 0;
    virtual void runErrorAlert(const std::string& message) = 0;
};

} // namespace penwick::platform
