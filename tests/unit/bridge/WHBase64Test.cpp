#include <gtest/gtest.h>

#include <cstring>
#include <numeric>

#include "bridge/WHBase64.h"

using namespace penwick;

TEST(WHBase64, StrictDecoderTakesOnlyWholePaddedGroups)
{
    // Every byte value, in every place of a group of three.
    Bytes bytes(3000);
    std::iota(bytes.begin(), bytes.end(), 0);
    std::string clean = WHBase64::base64EncodedString(bytes);
    EXPECT_EQ(WHBase64::decodeStrict(clean), bytes);
    for (auto [text, plain] : { std::pair { "QUJD", "ABC" }, { "QUI=", "AB" }, { "QQ==", "A" }, { "", "" } })
        EXPECT_EQ(WHBase64::decodeStrict(text), Bytes(plain, plain + strlen(plain))) << text;

    std::string deep = clean;
    deep[500] = '.';
    for (std::string bad :
        { "Q U J D", "QUJD\n", "QUJ", "Q", "QU=D", "Q===", "====", "=QUJ", "QUJD====", "QUJ*", "QUJ\xC3\xA9", deep.c_str() })
        EXPECT_FALSE(WHBase64::decodeStrict(bad)) << bad;
}
