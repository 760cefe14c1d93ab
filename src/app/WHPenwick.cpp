#include "app/WHPenwick.h"

#include <algorithm>
#include <glib.h>
#include <sys/stat.h>

#include "base/AsciiCase.h"
#include "base/Format.h"
#include "base/GRef.h"
#include "base/Log.h"
#include "base/Translate.h"
#include "base/Utf8.h"
#include "base/WHURL.h"
#include "bridge/WHBase64.h"
#include "bridge/WHCommandDelegate.h"
#include "bridge/WHInvokedUrlCommand.h"
#include "bridge/WHPluginResult.h"
#include "platform/Dialogs.h"
#include "platform/PopupWindowFactory.h"
#include "platform/SavePanel.h"
#include "platform/UrlOpener.h"
#include "platform/glib/InstallLayout.h"

namespace penwick {
namespace {
constexpr int kPopupWidth = 800;
constexpr int kPopupHeight = 600;

// A page argument as the log shows it: a text as it is, anything else as JSON, none as "(null)".
// At most this many bytes of a page's value go into a log line.
constexpr size_t kLoggedValueLength = 256;

// The first `limit` bytes of `text`, not cutting a UTF-8 sequence.
std::string_view headOf(std::string_view text, size_t limit)
{
    if (text.size() <= limit)
        return text;
    while (limit > 0 && (static_cast<unsigned char>(text[limit]) & 0xC0) == 0x80)
        --limit;
    return text.substr(0, limit);
}

// Page text as a log line shows it: a long one by its head and its size.
std::string clipped(std::string text)
{
    if (text.size() <= kLoggedValueLength)
        return text;
    return format("%@... (%@ bytes)", std::string(headOf(text, kLoggedValueLength)), text.size());
}

std::string describe(const Value* value)
{
    if (!value)
        return "(null)";
    return clipped(value->is_string() ? value->get<std::string>() : value->dump());
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
    for (size_t i = 0; i < text.size(); ++i) {
        unsigned char c = text[i];
        // An escape the URL already holds stays one: "%3A" escaped again would name another URL.
        bool escape = c == '%' && i + 2 < text.size() && g_ascii_isxdigit(text[i + 1]) && g_ascii_isxdigit(text[i + 2]);
        if (escape || g_ascii_isalnum(c) || kKept.find(static_cast<char>(c)) != std::string_view::npos) {
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

void WHPenwick::openUrl(const WHInvokedUrlCommand& command, Reply reply)
{
    const Value* target = command.argumentAtIndex(1);
    const Value* argument = command.argumentAtIndex(0);
    log::message(format("%@..xxxx.%@", argument && argument->is_string() ? clipped(log::withoutQueryValues(argument->get<std::string>())) : describe(argument),
        describe(target)));
    std::string text = textArgument(command, 0);
    // Answered once the URL is handed over, or refused.
    auto answer = [&](std::optional<std::string> refusal) {
        if (refusal)
            reply.fail(CommandStatus::Error, *refusal);
        else
            reply.ok();
    };
    if (target && target->is_string() && target->get<std::string>() == "_blank") {
        auto url = WHURL::URLWithString(escapeForURL(text));
        log::message(format("url.%@", url ? log::withoutQueryValues(url->absoluteString()) : std::string("(null)")));
        if (!url) {
            answer("the URL does not parse");
            return;
        }
        // A script would run in the popup's current page, a file would be shown to it.
        if (auto why = PopupWindowController::refusal(url->absoluteString())) {
            log::message(format("refused to open %@ in the popup: %@", log::withoutQueryValues(url->absoluteString()), *why));
            answer(*why);
            return;
        }
        if (!m_popupController) {
            auto* factory = context().service<platform::PopupWindowFactory>();
            if (!factory) {
                log::warning("ERROR: this host has no popup window; the URL was not opened.");
                answer("this host has no popup window");
                return;
            }
            auto* identity = context().service<platform::AppIdentity>();
            m_popupController = std::make_unique<PopupWindowController>(factory->createPopupWindow(kPopupWidth, kPopupHeight),
                identity ? identity->loginLandingURL : std::string(), context().service<platform::Dialogs>());
        }
        m_popupController->showWindow();
        m_popupController->setGWebView(webView());
        m_popupController->webView().loadRequest(url->absoluteString());
        answer(std::nullopt);
        return;
    }
    auto url = WHURL::URLWithString(text);
    std::string absolute = url ? url->absoluteString() : text;
    if (auto why = url ? platform::UrlOpener::refusal(absolute) : std::optional<std::string>("the URL does not parse")) {
        log::message(format("refused to open %@: %@", log::withoutQueryValues(absolute.substr(0, 256)), *why));
        answer(*why);
        return;
    }
    auto* opener = context().service<platform::UrlOpener>();
    if (!opener) {
        log::warning("no system URL opener: " + log::withoutQueryValues(absolute));
        answer("this host has no system URL opener");
        return;
    }
    opener->openURL(absolute);
    answer(std::nullopt);
}

// The name a save panel may propose: the last path component only, so that a page's name never
// picks the folder.
std::string WHPenwick::proposedFileName(std::string_view name)
{
    auto slash = name.rfind('/');
    std::string_view given = slash == std::string_view::npos ? name : name.substr(slash + 1);
    // No line breaks or other controls (a blank each), nor characters that hide or reorder text (an
    // override shows a name ending in "txt.exe" as one ending in "exe.txt"): the user sees the name
    // the disk gets.
    std::string kept;
    for (size_t i = 0; i < given.size();) {
        std::string_view sequence = given.substr(i, std::max<size_t>(utf8SequenceLength(given.substr(i)), 1));
        auto lead = static_cast<unsigned char>(sequence[0]);
        if (lead < 0x20 || lead == 0x7F)
            kept += ' ';
        else if (!hiddenCodePoint(sequence))
            kept += sequence;
        i += sequence.size();
    }
    std::string_view last = kept;
    if (last.empty() || last == "." || last == "..")
        return "untitled";
    // No file system takes a longer name; a page's long one keeps its start and its extension.
    constexpr size_t kMaxNameLength = 255;
    if (last.size() <= kMaxNameLength)
        return std::string(last);
    auto dot = last.rfind('.');
    std::string_view extension = dot != std::string_view::npos && last.size() - dot <= 32 ? last.substr(dot) : std::string_view();
    return std::string(headOf(last, kMaxNameLength - extension.size())) + std::string(extension);
}

Result<void> WHPenwick::writeExport(const std::string& path, const Bytes& bytes)
{
    // A private file the user saves over stays private.
    struct stat existing {};
    int mode = stat(path.c_str(), &existing) == 0 && S_ISREG(existing.st_mode) ? existing.st_mode & 0777 : 0666;
    GUnique<GError> error;
    if (!g_file_set_contents_full(path.c_str(), reinterpret_cast<const char*>(bytes.data()), static_cast<gssize>(bytes.size()),
            G_FILE_SET_CONTENTS_CONSISTENT, mode, &error.outPtr()))
        return toError(error);
    return {};
}

void WHPenwick::saveAs(const WHInvokedUrlCommand& command, Reply reply)
{
    const Value* content = command.argumentAtIndex(2);
    const bool saveable = content && (content->is_string() || content->is_binary());
    // The content only by its size: an export may be large, and it is the user's document.
    std::size_t size = !saveable ? 0 : content->is_string() ? content->get_ref<const std::string&>().size() : content->get_binary().size();
    log::message(format("save as %@ %@ %@", describe(command.argumentAtIndex(0)), describe(command.argumentAtIndex(1)),
        saveable ? format("<%@ bytes>", size) : std::string(content ? "<not a text>" : "(null)")));
    std::string name = textArgument(command, 0);
    std::string type = textArgument(command, 1);
    std::string fileName = proposedFileName(format("%@.%@", name, type));
    if (!saveable) {
        log::message(format("ERROR: nothing to save in %@: the content is not a text.", fileName));
        reply.fail(CommandStatus::Error, "the content is not a text");
        return;
    }
    // Decoded before the panel is shown, so a user is never told to pick a place for nothing.
    Bytes bytes;
    if (content->is_binary()) {
        bytes = content->get_binary();
    } else if (isBinaryType(asciiLowercase(type))) {
        auto decoded = WHBase64::decodeStrict(content->get<std::string>());
        if (!decoded) {
            log::message(format("ERROR: nothing was saved in %@: its content is not Base64.", fileName));
            reply.fail(CommandStatus::Error, format("the content of %@ is not Base64", fileName));
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
        reply.fail(CommandStatus::Error, "this host has no save dialog");
        return;
    }
    auto path = panel->runSavePanel(fileName);
    if (!path) {
        // Cancelled: nothing was saved, and nothing went wrong.
        reply.ok();
        return;
    }
    // The page is answered in text: a path in another encoding than UTF-8 (G_FILENAME_ENCODING) as the
    // dialog showed it, never as bytes that would leave the page with no answer but null, "cancelled".
    GUnique<char> shown(g_filename_display_name(path->c_str()));
    if (auto written = writeExport(*path, bytes); !written) {
        const std::string& why = written.error().message;
        log::warning(format("could not save %@: %@", *path, why));
        panel->runErrorAlert(format(translate("%@ could not be saved: %@"), fileName, why));
        reply.fail(CommandStatus::Error, format("%@ could not be saved: %@", std::string(shown.get()), why));
        return;
    }
    reply.ok(std::string(shown.get()));
}

} // namespace penwick
