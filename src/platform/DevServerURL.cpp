#include "platform/DevServerURL.h"

#include <algorithm>

#include "base/AsciiCase.h"
#include "base/GRef.h"
#include "base/WHURL.h"

namespace penwick::platform {

Result<std::string> DevServerURL::checked(std::string_view text, std::string_view source)
{
    // Letters of other scripts are written as the engine loads the address and reports its pages'
    // addresses: the host in its ASCII form (http://bücher.local/), the rest percent-encoded.
    std::string written(text);
    if (std::any_of(text.begin(), text.end(), [](unsigned char c) { return c >= 0x80; })) {
        if (GUnique<GUri> parsed(g_uri_parse(written.c_str(), G_URI_FLAGS_NONE, nullptr)); parsed) {
            GUnique<char> ascii(g_uri_to_string(parsed.get()));
            written = GUnique<char>(g_uri_escape_string(ascii.get(), "!#$%&'()*+,/:;=?@[]", FALSE)).get();
        }
    }
    auto url = WHURL::URLWithString(written);
    std::string scheme = url && url->scheme() ? asciiLowercase(*url->scheme()) : std::string();
    if ((scheme == "http" || scheme == "https") && url->host() && !url->host()->empty())
        return written;
    // The value is the user's own; cut so that a pasted page does not fill the terminal.
    std::string shown(text.substr(0, 200));
    return Error { 0,
        std::string(source) + " takes the http or https address of a development server, like http://127.0.0.1:5173/, not '"
            + shown + (text.size() > shown.size() ? "...'" : "'") };
}

} // namespace penwick::platform
