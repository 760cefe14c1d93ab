#include "platform/gtk/GtkPageDialogs.h"

#include <string>
#include <vector>

namespace penwick::platform {

void GtkPageDialogs::runScriptDialog(WebViewClient& client, WebKitScriptDialog* dialog, const DialogAsker& asker,
    const std::function<void(LeavePage)>& leavePage)
{
    const char* text = webkit_script_dialog_get_message(dialog);
    std::string message = text ? text : "";
    switch (webkit_script_dialog_get_dialog_type(dialog)) {
    case WEBKIT_SCRIPT_DIALOG_ALERT:
        client.runJavaScriptAlertPanel(message, asker);
        break;
    case WEBKIT_SCRIPT_DIALOG_CONFIRM:
        webkit_script_dialog_confirm_set_confirmed(dialog, client.runJavaScriptConfirmPanel(message, asker));
        break;
    case WEBKIT_SCRIPT_DIALOG_BEFORE_UNLOAD_CONFIRM: {
        leavePage(LeavePage::Asked);
        bool leave = client.runBeforeUnloadConfirmPanel(message, asker);
        webkit_script_dialog_confirm_set_confirmed(dialog, leave);
        leavePage(leave ? LeavePage::Leave : LeavePage::Stay);
        break;
    }
    case WEBKIT_SCRIPT_DIALOG_PROMPT: {
        const char* defaultText = webkit_script_dialog_prompt_get_default_text(dialog);
        // Left unset, the page's prompt() answers null.
        if (auto answer = client.runJavaScriptTextInputPanel(message, defaultText ? defaultText : "", asker))
            webkit_script_dialog_prompt_set_text(dialog, answer->c_str());
        break;
    }
    }
}

void GtkPageDialogs::runFileChooser(WebViewClient& client, WebKitFileChooserRequest* request, const DialogAsker& asker)
{
    auto multiple = webkit_file_chooser_request_get_select_multiple(request) ? AllowMultipleFiles::Yes : AllowMultipleFiles::No;
    std::vector<std::string> accept;
    if (const char* const* types = webkit_file_chooser_request_get_mime_types(request)) {
        for (; *types; ++types)
            accept.emplace_back(*types);
    }
    auto chosen = client.runOpenPanel(multiple, accept, asker);
    if (!chosen || chosen->empty()) {
        webkit_file_chooser_request_cancel(request);
        return;
    }
    std::vector<const char*> paths;
    for (const auto& path : *chosen)
        paths.push_back(path.c_str());
    paths.push_back(nullptr);
    webkit_file_chooser_request_select_files(request, paths.data());
}

} // namespace penwick::platform
