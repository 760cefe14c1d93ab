#include "platform/gtk/GtkSavePanel.h"

#include "base/GRef.h"
#include "base/Translate.h"
#include "platform/gtk/GtkModalDialogs.h"

namespace penwick::platform {
namespace {
constexpr int kSaveButton = 1000;
} // namespace

std::optional<std::string> GtkSavePanel::runSavePanel(const std::string& proposedName)
{
    GtkWidget* dialog = gtk_file_chooser_dialog_new(translate("Save"), m_parent, GTK_FILE_CHOOSER_ACTION_SAVE,
        translate("Cancel"), GTK_RESPONSE_CANCEL, translate("Save"), kSaveButton, nullptr);
    // The parent may be destroyed from outside meanwhile, and the dialog with it.
    GRef<GtkWidget> held(dialog);
    gtk_window_set_role(GTK_WINDOW(dialog), "penwick-save");
    gtk_window_set_modal(GTK_WINDOW(dialog), TRUE);
    gtk_dialog_set_default_response(GTK_DIALOG(dialog), kSaveButton);
    gtk_file_chooser_set_local_only(GTK_FILE_CHOOSER(dialog), TRUE);
    gtk_file_chooser_set_do_overwrite_confirmation(GTK_FILE_CHOOSER(dialog), TRUE);
    // Not the working directory, which GTK would open and which the user did not choose.
    std::string folder = m_lastFolder;
    if (!g_file_test(folder.c_str(), G_FILE_TEST_IS_DIR)) {
        const char* documents = g_get_user_special_dir(G_USER_DIRECTORY_DOCUMENTS);
        folder = documents && g_file_test(documents, G_FILE_TEST_IS_DIR) ? documents : g_get_home_dir();
    }
    gtk_file_chooser_set_current_folder(GTK_FILE_CHOOSER(dialog), folder.c_str());
    gtk_file_chooser_set_current_name(GTK_FILE_CHOOSER(dialog), proposedName.c_str());
    // gtk_dialog_run spins a nested main loop: the page's call waits, the windows keep drawing.
    int response = GtkModalDialogs::run(GTK_DIALOG(dialog));
    std::optional<std::string> chosen;
    if (response == kSaveButton) {
        GUnique<char> path(gtk_file_chooser_get_filename(GTK_FILE_CHOOSER(dialog)));
        if (path) {
            chosen = path.get();
            GUnique<char> folder(g_path_get_dirname(path.get()));
            m_lastFolder = folder.get();
        }
    }
    gtk_widget_destroy(dialog);
    return chosen;
}

void GtkSavePanel::runErrorAlert(const std::string& message)
{
    GtkWidget* dialog = gtk_message_dialog_new(m_parent, static_cast<GtkDialogFlags>(GTK_DIALOG_MODAL | GTK_DIALOG_DESTROY_WITH_PARENT),
        GTK_MESSAGE_ERROR, GTK_BUTTONS_OK, "%s", message.c_str());
    gtk_window_set_role(GTK_WINDOW(dialog), "penwick-error");
    gtk_window_set_title(GTK_WINDOW(dialog), translate("Error"));
    GRef<GtkWidget> held(dialog);
    gtk_dialog_set_default_response(GTK_DIALOG(dialog), GTK_RESPONSE_OK);
    (void)GtkModalDialogs::run(GTK_DIALOG(dialog));
    gtk_widget_destroy(dialog);
}

} // namespace penwick::platform
