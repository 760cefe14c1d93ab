#include <gtest/gtest.h>

#include <random>

#include "bridge/WHBase64.h"

using namespace penwick;

namespace {
Bytes bytesOf(std::string_view s) { return Bytes(s.begin(), s.end()); }

Bytes randomBytes(size_t size, unsigned seed)
{
    std::mt19937 rng(seed);
    Bytes b(size);
    for (auto& x : b)
        x = static_cast<std::uint8_t>(rng());
    return b;
}
} // namespace

TEST(WHBase64, LenientDecoderSkipsWhatIsOutsideTheAlphabetButRefusesNonAscii)
{
    const std::pair<const char*, const char*> cases[] = { { "Q U J D\n", "ABC" }, { "QU=JD", "ABC" }, { "QUI=", "AB" },
        { "QQ==", "A" }, { "Q", "" }, { "====", "" }, { "QUJD\xC3\xA9", "" } };
    for (auto [text, plain] : cases)
        EXPECT_EQ(WHBase64::dataFromBase64String(text), bytesOf(plain)) << text;

    Bytes bytes = randomBytes(3000, 4);
    std::string clean = WHBase64::base64EncodedString(bytes);
    std::string wrapped;
    for (size_t i = 0; i < clean.size(); i += 76)
        wrapped += clean.substr(i, 76) + "\r\n";
    EXPECT_EQ(WHBase64::dataFromBase64String(wrapped), bytes);
    EXPECT_EQ(WHBase64::dataFromBase64String(clean.substr(0, 402) + " " + clean.substr(402)), bytes);
    EXPECT_TRUE(WHBase64::dataFromBase64String(clean + "\xE2\x80\xA8").empty()) << "non-ASCII after a long clean run";
}

TEST(WHBase64, StrictDecoderRejectsWhatTheLenientOneSkips)
{
    std::string deep = WHBase64::base64EncodedString(randomBytes(900, 5));
    deep[500] = '.';
    for (std::string bad : { "Q U J D", "QUJD\n", "QUJ", "Q", "QU=D", "Q===", "====", "=QUJ", "QUJD====", "QUJ*",
             "QUJ\xC3\xA9", deep.c_str() })
        EXPECT_FALSE(WHBase64::decodeStrict(bad)) << bad;
}
