#include "app/WHPenwick.h"

#include <glib.h>

#include "BuildConfig.h"
#include "base/Format.h"
#include "base/GRef.h"
#include "base/Log.h"
#include "base/WHURL.h"
#include "bridge/WHBase64.h"
#include "bridge/WHInvokedUrlCommand.h"
#include "platform/Dialogs.h"
#include "platform/PopupWindowFactory.h"
#include "platform/SavePanel.h"
#include "platform/UrlOpener.h"

namespace penwick {
namespace {
constexpr int kPopupWidth = 800;
constexpr int kPopupHeight = 600;

// A page argument as the log shows it: a text as it is, anything else as JSON, none as "(null)".
std::string describe(const Value* value)
{
    if (!value)
        return "(null)";
    return value->is_string() ? value->get<std::string>() : value->dump();
}

std::string textArgument(const WHInvokedUrlCommand& command, size_t index)
{
    const Value* value = command.argumentAtIndex(index);
    return value && value->is_string() ? value->get<std::string>() : std::string();
}
} // namespace

WHPenwick::~WHPenwick() = default;

const std::string& WHPenwick::className() const
{
    static const std::string s_name = "WHPenwick";
    return s_name;
}

const WHPlugin::ActionTable& WHPenwick::actions() const
{
    static const ActionTable s_actions = ActionTable().add("openUrl:", &WHPenwick::openUrl).add("saveAs:", &WHPenwick::saveAs);
    return s_actions;
}

std::string WHPenwick::escapeForURL(std::string_view text)
{
    static constexpr char kHex[] = "0123456789ABCDEF";
    static constexpr std::string_view kKept = "-_.~!*'();:@&=+$,/?#[]";
    std::string out;
    for (unsigned char c : text) {
        if (g_ascii_isalnum(c) || kKept.find(static_cast<char>(c)) != std::string_view::npos) {
            out += static_cast<char>(c);
        } else {
            out += '%';
            out += kHex[c >> 4];
            out += kHex[c & 15];
        }
    }
    return out;
}

bool WHPenwick::isBinaryType(std::string_view type)
{
    return type == "pdf" || type == "docx" || type == "png" || type == "jpg";
}

void WHPenwick::openUrl(const WHInvokedUrlCommand& command)
{
    const Value* target = command.argumentAtIndex(1);
    log::message(format("%@..xxxx.%@", describe(command.argumentAtIndex(0)), describe(target)));
    std::string text = textArgument(command, 0);
    if (target && target->is_string() && target->get<std::string>() == "_blank") {
        if (!m_popupController) {
            auto* factory = context().service<platform::PopupWindowFactory>();
            if (!factory) {
                log::warning("ERROR: this host has no popup window; the URL was not opened.");
                return;
            }
            m_popupController = std::make_unique<PopupWindowController>(factory->createPopupWindow(kPopupWidth, kPopupHeight),
                build::kLoginLandingURL, context().service<platform::Dialogs>());
        }
        auto url = WHURL::URLWithString(escapeForURL(text));
        log::message(format("url.%@", url ? url->absoluteString() : std::string("(null)")));
        m_popupController->showWindow();
        m_popupController->setGWebView(webView());
        if (url)
            m_popupController->webView().loadRequest(url->absoluteString());
        return;
    }
    auto url = WHURL::URLWithString(text);
    if (!url)
        return;
    if (auto* opener = context().service<platform::UrlOpener>())
        opener->openURL(url->absoluteString());
    else
        log::warning("no system URL opener: " + url->absoluteString());
}

void WHPenwick::saveAs(const WHInvokedUrlCommand& command)
{
    log::message(format("save as %@ %@ %@", describe(command.argumentAtIndex(0)), describe(command.argumentAtIndex(1)),
        describe(command.argumentAtIndex(2))));
    std::string name = textArgument(command, 0);
    std::string type = textArgument(command, 1);
    std::string fileName = format("%@.%@", name, type);
    const Value* content = command.argumentAtIndex(2);
    if (!content || !content->is_string()) {
        log::message(format("ERROR: nothing to save in %@: the content is not a text.", fileName));
        return;
    }
    // Decoded before the panel is shown, so a user is never told to pick a place for nothing.
    Bytes bytes;
    if (isBinaryType(type)) {
        auto decoded = WHBase64::decodeStrict(content->get<std::string>());
        if (!decoded) {
            log::message(format("ERROR: nothing was saved in %@: its content is not Base64.", fileName));
            return;
        }
        bytes = std::move(*decoded);
    } else {
        const auto& text = content->get_ref<const std::string&>();
        bytes.assign(text.begin(), text.end());
    }
    auto* panel = context().service<platform::SavePanel>();
    if (!panel) {
        log::warning(format("ERROR: this host has no save panel; %@ was not saved.", fileName));
        return;
    }
    auto path = panel->runSavePanel(fileName);
    if (!path)
        return;
    // Written beside the chosen file and renamed over it: a failure leaves no half-written file.
    GUnique<GError> error;
    if (!g_file_set_contents_full(path->c_str(), reinterpret_cast<const char*>(bytes.data()), static_cast<gssize>(bytes.size()),
            G_FILE_SET_CONTENTS_CONSISTENT, 0666, &error.outPtr())) {
        std::string why = error ? error->message : "unknown error";
        log::warning(format("could not save %@: %@", *path, why));
        panel->runErrorAlert(format("%@ could not be saved: %@", fileName, why));
    }
}

} // namespace penwick
