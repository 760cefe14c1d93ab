#include "platform/gtk/GtkDialogs.h"

#include "base/GRef.h"
#include "platform/gtk/GtkModalDialogs.h"

namespace penwick::platform {
namespace {
// The answers of the two buttons. "OK" is the first button and the default.
constexpr int kFirstButton = 1000;
constexpr int kSecondButton = 1001;

GtkWidget* messageDialog(GtkWindow* parent, const std::string& message, const char* role, const char* title, bool withCancel)
{
    GtkWidget* dialog = gtk_message_dialog_new(parent, static_cast<GtkDialogFlags>(GTK_DIALOG_MODAL | GTK_DIALOG_DESTROY_WITH_PARENT),
        withCancel ? GTK_MESSAGE_QUESTION : GTK_MESSAGE_INFO, GTK_BUTTONS_NONE, "%s", message.c_str());
    gtk_window_set_role(GTK_WINDOW(dialog), role);
    gtk_window_set_title(GTK_WINDOW(dialog), title);
    gtk_dialog_add_button(GTK_DIALOG(dialog), "OK", kFirstButton);
    if (withCancel)
        gtk_dialog_add_button(GTK_DIALOG(dialog), "Cancel", kSecondButton);
    gtk_dialog_set_default_response(GTK_DIALOG(dialog), kFirstButton);
    return dialog;
}

// Runs the dialog modally and destroys it; the response.
int runAndDestroy(GtkWidget* dialog)
{
    int response = GtkModalDialogs::run(GTK_DIALOG(dialog));
    gtk_widget_destroy(dialog);
    return response;
}
} // namespace

void GtkDialogs::runAlert(const std::string& message)
{
    (void)runAndDestroy(messageDialog(m_parent, message, "penwick-alert", "Message", false));
}

bool GtkDialogs::runConfirm(const std::string& message)
{
    return runAndDestroy(messageDialog(m_parent, message, "penwick-confirm", "Confirm", true)) == kFirstButton;
}

std::optional<std::string> GtkDialogs::runPrompt(const std::string& message, const std::string& defaultText)
{
    GtkWidget* dialog = messageDialog(m_parent, message, "penwick-prompt", "Prompt", true);
    GtkWidget* entry = gtk_entry_new();
    gtk_widget_set_size_request(entry, 300, 24);
    gtk_entry_set_text(GTK_ENTRY(entry), defaultText.c_str());
    gtk_entry_set_activates_default(GTK_ENTRY(entry), TRUE);
    gtk_container_add(GTK_CONTAINER(gtk_message_dialog_get_message_area(GTK_MESSAGE_DIALOG(dialog))), entry);
    gtk_widget_show(entry);
    gtk_widget_grab_focus(entry);
    int response = GtkModalDialogs::run(GTK_DIALOG(dialog));
    std::optional<std::string> answer;
    if (response == kFirstButton)
        answer = gtk_entry_get_text(GTK_ENTRY(entry));
    gtk_widget_destroy(dialog);
    return answer;
}

std::optional<std::vector<std::string>> GtkDialogs::runOpenPanel(AllowMultipleFiles multiple)
{
    // A chooser in open mode that accepts folders as well as files: its confirming button has a
    // response of its own, so a selected folder is answered rather than entered.
    GtkWidget* dialog = gtk_file_chooser_dialog_new("Open", m_parent, GTK_FILE_CHOOSER_ACTION_OPEN, "Cancel",
        GTK_RESPONSE_CANCEL, "Open", kFirstButton, nullptr);
    gtk_window_set_role(GTK_WINDOW(dialog), "penwick-open");
    gtk_window_set_modal(GTK_WINDOW(dialog), TRUE);
    gtk_dialog_set_default_response(GTK_DIALOG(dialog), kFirstButton);
    gtk_file_chooser_set_select_multiple(GTK_FILE_CHOOSER(dialog), multiple == AllowMultipleFiles::Yes);
    gtk_file_chooser_set_local_only(GTK_FILE_CHOOSER(dialog), TRUE);
    int response = GtkModalDialogs::run(GTK_DIALOG(dialog));
    std::optional<std::vector<std::string>> chosen;
    if (response == kFirstButton) {
        chosen.emplace();
        GSList* files = gtk_file_chooser_get_filenames(GTK_FILE_CHOOSER(dialog));
        for (GSList* l = files; l; l = l->next) {
            chosen->emplace_back(static_cast<char*>(l->data));
            g_free(l->data);
        }
        g_slist_free(files);
    }
    gtk_widget_destroy(dialog);
    return chosen;
}

} // namespace penwick::platform
