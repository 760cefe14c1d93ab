#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "app/PopupWindowController.h"
#include "bridge/WHPlugin.h"

namespace penwick {

// The application's own plugin: opens URLs in the popup window ("_blank") or through the system,
// and exports what the page produced through a save panel. Each call is answered once its work is
// done: openUrl when the URL has been handed over (or could not be), saveAs when the dialog has
// closed (OK with the path when saved, OK with nothing when cancelled, an error saying why when
// nothing could be saved). Main thread only.
class WHPenwick final : public WHPlugin {
public:
    using WHPlugin::WHPlugin;
    ~WHPenwick() override;
    const std::string& className() const override;

    void openUrl(const WHInvokedUrlCommand& command, Reply reply);
    void saveAs(const WHInvokedUrlCommand& command, Reply reply);

    PopupWindowController* popupController() const { return m_popupController.get(); }

    // `text` with every character that may not stand in a URL percent-escaped as UTF-8 (a "%" too,
    // unless it begins an escape "%XX"); the reserved characters stay.
    static std::string escapeForURL(std::string_view text);
    // The last path component of `name` ("untitled" when that is empty, "." or "..").
    static std::string proposedFileName(std::string_view name);
    // The types whose content arrives as Base64 of the file's bytes (lower-case).
    static bool isBinaryType(std::string_view type);
    // Writes `bytes` beside `path` and renames them over it, so a failure leaves what was there
    // whole; a file replaced keeps its permissions, never set-user-id or set-group-id bits.
    [[nodiscard]] static Result<void> writeExport(const std::string& path, const Bytes& bytes);

protected:
    const ActionTable& actions() const override;

private:
    std::unique_ptr<PopupWindowController> m_popupController;
};

} // namespace penwick
