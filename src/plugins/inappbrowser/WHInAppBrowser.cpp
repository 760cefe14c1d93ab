#include "plugins/inappbrowser/WHInAppBrowser.h"

#include "BuildConfig.h"
#include "base/Log.h"
#include "base/WHURL.h"
#include "bridge/WHInvokedUrlCommand.h"
#include "bridge/WHPluginResult.h"
#include "platform/UrlOpener.h"

namespace penwick {
namespace {
constexpr const char* kSelfNotImplemented = "Not Yet Implemented for OSX: [self openInHostWebView:absoluteUrl withOptions:options]";
constexpr const char* kBlankNotImplemented = "Not Yet Implemented for OSX: [self openInInAppBrowser:absoluteUrl withOptions:options]";
} // namespace

const std::string& WHInAppBrowser::className() const
{
    static const std::string s_name = "WHInAppBrowser";
    return s_name;
}

const WHPlugin::ActionTable& WHInAppBrowser::actions() const
{
    static const ActionTable s_actions = ActionTable().add("open:", &WHInAppBrowser::open);
    return s_actions;
}

bool WHInAppBrowser::isSystemUrl(const std::string& url)
{
    auto parsed = WHURL::URLWithString(url);
    return parsed && parsed->host() && *parsed->host() == build::kStoreHost;
}

void WHInAppBrowser::openInSystem(const std::string& url)
{
    if (auto* opener = context().service<platform::UrlOpener>())
        opener->openURL(url);
    else
        log::warning("no system URL opener: " + url);
}

void WHInAppBrowser::open(const WHInvokedUrlCommand& command, Reply reply)
{
    const Value* url = command.argumentAtIndex(0);
    Value target = command.argumentAtIndex(1, Value("_self"));
    WHPluginResult result;
    if (!url || url->is_null()) {
        result = WHPluginResult::resultWithStatus(CommandStatus::Error, "incorrect number of arguments");
    } else {
        // A value that is no text, or a text that is no URL, names nothing the system could open.
        auto parsed = url->is_string() ? WHURL::URLWithString(url->get<std::string>()) : std::nullopt;
        std::string how = target.is_string() ? target.get<std::string>() : std::string();
        if (parsed && isSystemUrl(parsed->absoluteString()))
            how = "_system";
        if (how == "_self") {
            result = WHPluginResult::resultWithStatus(CommandStatus::Error, kSelfNotImplemented);
        } else if (how == "_system") {
            std::string absolute = parsed ? parsed->absoluteString() : std::string();
            if (auto why = parsed ? platform::UrlOpener::refusal(absolute) : std::optional<std::string>("the URL does not parse")) {
                // Only web pages and mail go to the desktop.
                log::message("refused to open " + log::withoutQueryValues(absolute.substr(0, 256)) + ": " + *why);
                result = WHPluginResult::resultWithStatus(CommandStatus::Error, *why);
            } else {
                if (parsed)
                    openInSystem(absolute);
                result = WHPluginResult::resultWithStatus(CommandStatus::OK);
            }
        } else {
            result = WHPluginResult::resultWithStatus(CommandStatus::Error, kBlankNotImplemented);
        }
    }
    // The page's callback stays for browser events, which this host never sends.
    reply.keep(std::move(result));
    reply.none();
}

} // namespace penwick
