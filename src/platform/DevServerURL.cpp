#include "platform/DevServerURL.h"

#include "base/AsciiCase.h"
#include "base/WHURL.h"

namespace penwick::platform {

Result<std::string> DevServerURL::checked(std::string_view text, std::string_view source)
{
    auto url = WHURL::URLWithString(text);
    std::string scheme = url && url->scheme() ? asciiLowercase(*url->scheme()) : std::string();
    if ((scheme == "http" || scheme == "https") && url->host() && !url->host()->empty())
        return std::string(text);
    // The value is the user's own; cut so that a pasted page does not fill the terminal.
    std::string shown(text.substr(0, 200));
    return Error { 0,
        std::string(source) + " takes the http or https address of a development server, like http://127.0.0.1:5173/, not '"
            + shown + (text.size() > shown.size() ? "...'" : "'") };
}

} // namespace penwick::platform
