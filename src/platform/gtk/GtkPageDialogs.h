#pragma once

#include <functional>
#include <webkit2/webkit2.h>

#include "platform/WebViewClient.h"

namespace penwick::platform {

// The page's dialogs, put to the user by the web view's client: alert, confirm, prompt, the
// leave-page question, and the file chooser of an `<input type="file">`.
class GtkPageDialogs {
public:
    enum class LeavePage { Asked, Stay, Leave };
    // `leavePage` hears when the leave-page question goes up and what the user answered.
    // `asker` is who the page says opened the dialog.
    static void runScriptDialog(WebViewClient& client, WebKitScriptDialog* dialog, const DialogAsker& asker,
        const std::function<void(LeavePage)>& leavePage);
    // `asker` is whose document the user's latest input went to.
    static void runFileChooser(WebViewClient& client, WebKitFileChooserRequest* request, const DialogAsker& asker);
};

} // namespace penwick::platform
