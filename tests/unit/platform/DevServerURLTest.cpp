// Which development-server addresses a run may start on (--dev-url, PENWICK_DEV_URL).
#include <gtest/gtest.h>

#include "platform/DevServerURL.h"

using penwick::platform::DevServerURL;

TEST(DevServerURL, OnlyHttpAndHttpsAddressesWithAHost)
{
    const std::string refused = "--dev-url takes the http or https address";
    // What is given, and what a run starts on, or the first words of its refusal. A host in another
    // script comes out in the ASCII form the engine reports its pages under.
    const std::pair<const char*, std::string> cases[] = { { "http://127.0.0.1:5173/", "http://127.0.0.1:5173/" },
        { "HTTPS://dev.example:8443/app/?x=1", "HTTPS://dev.example:8443/app/?x=1" }, { "http://[::1]:5173", "http://[::1]:5173" },
        { "http://bücher.local:5173/", "http://xn--bcher-kva.local:5173/" },
        { "http://127.0.0.1:5173/ä?x=ö", "http://127.0.0.1:5173/%C3%A4?x=%C3%B6" }, { "", refused }, { "127.0.0.1:5173", refused },
        { "http://", refused }, { "http:///path", refused }, { "file:///etc/passwd", refused }, { "app://org.example.app/", refused },
        { "javascript:alert(1)", refused }, { "http://a b/", refused }, { "ws://127.0.0.1:5173/", refused } };
    for (const auto& [given, taken] : cases) {
        auto checked = DevServerURL::checked(given, "--dev-url");
        EXPECT_EQ(checked ? *checked : checked.error().message.substr(0, refused.size()), taken) << given;
    }
}
