#include "platform/gtk/GtkDialogs.h"

#include <string_view>

#include "base/Format.h"
#include "base/GRef.h"
#include "base/Log.h"
#include "base/Translate.h"
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
    const char* ok = translate("OK");
    const char* cancel = withCancel ? translate("Cancel") : "";
    gtk_dialog_add_button(GTK_DIALOG(dialog), ok, kFirstButton);
    if (withCancel)
        gtk_dialog_add_button(GTK_DIALOG(dialog), cancel, kSecondButton);
    gtk_dialog_set_default_response(GTK_DIALOG(dialog), kFirstButton);
    // What the user is shown, in their language and writing direction (GTK mirrors by locale).
    log::debug(format("dialog '%@' buttons '%@' '%@' %@", title, ok, cancel,
        gtk_widget_get_direction(dialog) == GTK_TEXT_DIR_RTL ? "right-to-left" : "left-to-right"));
    return dialog;
}

// The dialog's title: the app's own words, or with them where another site's question comes from.
std::string titleFor(const char* title, const DialogAsker& asker)
{
    if (asker.kind == DialogAsker::Kind::App)
        return title;
    return format(translate("%@ from %@"), title, asker.origin.empty() ? std::string(translate("a frame of another site")) : asker.origin);
}

// Runs the dialog modally and destroys it; the response. The dialog goes with its parent when
// something else destroys that window meanwhile: the reference keeps it valid until here.
int runAndDestroy(GtkWidget* dialog)
{
    GRef<GtkWidget> held(dialog);
    int response = GtkModalDialogs::run(GTK_DIALOG(dialog));
    gtk_widget_destroy(dialog);
    return response;
}

// The page's accept list as the chooser's first filter, all files as the other.
void addFilters(GtkFileChooser* chooser, const std::vector<std::string>& accept)
{
    if (accept.empty())
        return;
    GtkFileFilter* accepted = gtk_file_filter_new();
    std::string name;
    for (const auto& type : accept) {
        if (type.starts_with("."))
            gtk_file_filter_add_pattern(accepted, ("*" + type).c_str());
        else
            gtk_file_filter_add_mime_type(accepted, type.c_str());
        name += (name.empty() ? "" : ", ") + type;
    }
    gtk_file_filter_set_name(accepted, name.c_str());
    gtk_file_chooser_add_filter(chooser, accepted);
    GtkFileFilter* all = gtk_file_filter_new();
    gtk_file_filter_add_pattern(all, "*");
    gtk_file_filter_set_name(all, translate("All files"));
    gtk_file_chooser_add_filter(chooser, all);
    gtk_file_chooser_set_filter(chooser, accepted);
}

// The desktop's own chooser (the file-chooser portal) is asked for where GTK uses portals.
bool usesPortal()
{
    const char* portal = g_getenv("GTK_USE_PORTAL");
    return (portal && *portal && std::string_view(portal) != "0") || g_file_test("/.flatpak-info", G_FILE_TEST_EXISTS);
}

std::vector<std::string> chosenFiles(GtkFileChooser* chooser)
{
    std::vector<std::string> chosen;
    GSList* files = gtk_file_chooser_get_filenames(chooser);
    for (GSList* l = files; l; l = l->next) {
        chosen.emplace_back(static_cast<char*>(l->data));
        g_free(l->data);
    }
    g_slist_free(files);
    return chosen;
}
} // namespace

void GtkDialogs::runAlert(const std::string& message, const DialogAsker& asker)
{
    (void)runAndDestroy(messageDialog(m_parent, message, "penwick-alert", titleFor(translate("Message"), asker).c_str(), false));
}

bool GtkDialogs::runConfirm(const std::string& message, const DialogAsker& asker)
{
    return runAndDestroy(messageDialog(m_parent, message, "penwick-confirm", titleFor(translate("Confirm"), asker).c_str(), true)) == kFirstButton;
}

std::optional<std::string> GtkDialogs::runPrompt(const std::string& message, const std::string& defaultText, const DialogAsker& asker)
{
    GtkWidget* dialog = messageDialog(m_parent, message, "penwick-prompt", titleFor(translate("Prompt"), asker).c_str(), true);
    GRef<GtkWidget> held(dialog);
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

std::optional<std::vector<std::string>> GtkDialogs::runOpenPanel(
    AllowMultipleFiles multiple, const std::vector<std::string>& accept, const DialogAsker& asker)
{
    const std::string title = titleFor(translate("Open"), asker);
    if (usesPortal()) {
        // The portal's chooser answers files; it has no way to answer a folder in the same panel.
        GRef<GtkFileChooserNative> native = adopt(
            gtk_file_chooser_native_new(title.c_str(), m_parent, GTK_FILE_CHOOSER_ACTION_OPEN, translate("Open"), translate("Cancel")));
        auto* chooser = GTK_FILE_CHOOSER(native.get());
        gtk_native_dialog_set_modal(GTK_NATIVE_DIALOG(native.get()), TRUE);
        gtk_file_chooser_set_select_multiple(chooser, multiple == AllowMultipleFiles::Yes);
        addFilters(chooser, accept);
        if (GtkModalDialogs::run(GTK_NATIVE_DIALOG(native.get())) != GTK_RESPONSE_ACCEPT)
            return std::nullopt;
        return chosenFiles(chooser);
    }
    // A chooser in open mode that accepts folders as well as files: its confirming button has a
    // response of its own, so a selected folder is answered rather than entered.
    GtkWidget* dialog = gtk_file_chooser_dialog_new(title.c_str(), m_parent, GTK_FILE_CHOOSER_ACTION_OPEN,
        translate("Cancel"), GTK_RESPONSE_CANCEL, translate("Open"), kFirstButton, nullptr);
    GRef<GtkWidget> held(dialog);
    auto* chooser = GTK_FILE_CHOOSER(dialog);
    gtk_window_set_role(GTK_WINDOW(dialog), "penwick-open");
    gtk_window_set_modal(GTK_WINDOW(dialog), TRUE);
    gtk_dialog_set_default_response(GTK_DIALOG(dialog), kFirstButton);
    gtk_file_chooser_set_select_multiple(chooser, multiple == AllowMultipleFiles::Yes);
    gtk_file_chooser_set_local_only(chooser, TRUE);
    addFilters(chooser, accept);
    int response = GtkModalDialogs::run(GTK_DIALOG(dialog));
    std::optional<std::vector<std::string>> chosen;
    if (response == kFirstButton)
        chosen = chosenFiles(chooser);
    gtk_widget_destroy(dialog);
    return chosen;
}

} // namespace penwick::platform
