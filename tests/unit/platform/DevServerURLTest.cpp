// Which development-server addresses a run may start on (--dev-url, PENWICK_DEV_URL).
#include <gtest/gtest.h>

#include "platform/DevServerURL.h"

using penwick::platform::DevServerURL;

TEST(DevServerURL, OnlyHttpAndHttpsAddressesWithAHost)
{
    for (const char* good : { "http://127.0.0.1:5173/", "HTTPS://dev.example:8443/app/?x=1", "http://[::1]:5173" })
        EXPECT_TRUE(DevServerURL::checked(good, "--dev-url")) << good;
    // A host in another script comes out in the ASCII form the engine reports its pages under.
    for (auto [given, written] : { std::pair { "http://bücher.local:5173/", "http://xn--bcher-kva.local:5173/" },
             { "http://127.0.0.1:5173/ä?x=ö", "http://127.0.0.1:5173/%C3%A4?x=%C3%B6" } }) {
        auto checked = DevServerURL::checked(given, "--dev-url");
        EXPECT_EQ(checked ? *checked : checked.error().message, written) << given;
    }
    for (const char* bad : { "", "127.0.0.1:5173", "http://", "http:///path", "file:///etc/passwd", "app://org.example.app/",
             "javascript:alert(1)", "http://a b/", "ws://127.0.0.1:5173/" }) {
        auto checked = DevServerURL::checked(bad, "--dev-url");
        ASSERT_FALSE(checked) << bad;
        EXPECT_TRUE(checked.error().message.starts_with("--dev-url takes the http or https address")) << checked.error().message;
    }
}
