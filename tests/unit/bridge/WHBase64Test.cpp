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

// RFC 4648, section 10.
const std::pair<const char*, const char*> kVectors[] = {
    { "", "" },
    { "f", "Zg==" },
    { "fo", "Zm8=" },
    { "foo", "Zm9v" },
    { "foob", "Zm9vYg==" },
    { "fooba", "Zm9vYmE=" },
    { "foobar", "Zm9vYmFy" },
};
} // namespace

TEST(WHBase64, RfcVectorsBothWaysWithBothDecoders)
{
    for (auto [plain, encoded] : kVectors) {
        EXPECT_EQ(WHBase64::base64EncodedString(bytesOf(plain)), encoded);
        EXPECT_EQ(WHBase64::dataFromBase64String(encoded), bytesOf(plain)) << encoded;
        auto strict = WHBase64::decodeStrict(encoded);
        ASSERT_TRUE(strict) << encoded;
        EXPECT_EQ(*strict, bytesOf(plain));
    }
}

TEST(WHBase64, EncodingIsOneLineOfFourThirdsTheLength)
{
    auto text = WHBase64::base64EncodedString(randomBytes(57, 1));
    EXPECT_EQ(text.size(), 76u);
    EXPECT_EQ(WHBase64::base64EncodedString(randomBytes(3000, 2)).find_first_of("\r\n"), std::string::npos);
    EXPECT_EQ(WHBase64::base64EncodedString(Bytes { 0xFB, 0xFF }), "+/8=");
}

// Lengths around the encoder's and decoders' block sizes, so every tail path is taken.
TEST(WHBase64, RoundTripsEveryLengthAroundTheBlockSizes)
{
    for (size_t n = 0; n < 80; ++n) {
        Bytes bytes = randomBytes(n, static_cast<unsigned>(n));
        std::string text = WHBase64::base64EncodedString(bytes);
        ASSERT_EQ(text.size(), (n + 2) / 3 * 4);
        EXPECT_EQ(WHBase64::dataFromBase64String(text), bytes) << n;
        auto strict = WHBase64::decodeStrict(text);
        ASSERT_TRUE(strict) << n;
        EXPECT_EQ(*strict, bytes) << n;
    }
}

TEST(WHBase64, LenientDecoderSkipsEverythingOutsideTheAlphabet)
{
    EXPECT_EQ(WHBase64::dataFromBase64String("QUJD"), bytesOf("ABC"));
    EXPECT_EQ(WHBase64::dataFromBase64String("Q U J D\n"), bytesOf("ABC"));
    EXPECT_EQ(WHBase64::dataFromBase64String("QU=JD"), bytesOf("ABC")); // "=" anywhere is skipped
    EXPECT_EQ(WHBase64::dataFromBase64String("QUI=").size(), 2u);
    EXPECT_EQ(WHBase64::dataFromBase64String("QQ==").size(), 1u);
    EXPECT_TRUE(WHBase64::dataFromBase64String("Q").empty());
    EXPECT_TRUE(WHBase64::dataFromBase64String("====").empty());
    EXPECT_TRUE(WHBase64::dataFromBase64String("").empty());
}

TEST(WHBase64, LenientDecoderGivesNothingForNonAsciiText)
{
    EXPECT_TRUE(WHBase64::dataFromBase64String("QUJD\xC3\xA9").empty());
    // Also when the non-ASCII byte comes after a long clean stretch.
    std::string text = WHBase64::base64EncodedString(randomBytes(600, 3)) + "\xE2\x80\xA8";
    EXPECT_TRUE(WHBase64::dataFromBase64String(text).empty());
}

TEST(WHBase64, LenientDecoderResumesAfterBlanksInsideLongText)
{
    Bytes bytes = randomBytes(3000, 4);
    std::string clean = WHBase64::base64EncodedString(bytes);
    std::string wrapped;
    for (size_t i = 0; i < clean.size(); i += 76)
        wrapped += clean.substr(i, 76) + "\r\n";
    EXPECT_EQ(WHBase64::dataFromBase64String(wrapped), bytes);
    // A blank that splits a group of four.
    std::string split = clean.substr(0, 402) + " " + clean.substr(402);
    EXPECT_EQ(WHBase64::dataFromBase64String(split), bytes);
}

TEST(WHBase64, StrictDecoderRejectsWhatTheLenientOneSkips)
{
    for (const char* bad : { "Q U J D", "QUJD\n", "QUJ", "Q", "QU=D", "Q===", "====", "=QUJ", "QUJD====", "QUJ*",
             "QUJ\xC3\xA9" }) {
        EXPECT_FALSE(WHBase64::decodeStrict(bad)) << bad;
    }
    // A bad character deep inside a long text.
    std::string text = WHBase64::base64EncodedString(randomBytes(900, 5));
    text[500] = '.';
    EXPECT_FALSE(WHBase64::decodeStrict(text));
}
