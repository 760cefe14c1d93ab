// Base64 both ways: any bytes survive encoding and decoding unchanged, and whatever the decoder
// takes survives the same round.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "FuzzCheck.h"
#include "bridge/WHBase64.h"

namespace penwick::fuzz::base64_target {


FUZZ_TARGET(base64)
{
    std::string_view text(reinterpret_cast<const char*>(data), size);
    if (auto strict = WHBase64::decodeStrict(text))
        FUZZ_CHECK(WHBase64::decodeStrict(WHBase64::base64EncodedString(*strict)) == strict);

    Bytes input(data, data + size);
    std::string encoded = WHBase64::base64EncodedString(input);
    FUZZ_CHECK(encoded.size() == (size + 2) / 3 * 4);
    FUZZ_CHECK(WHBase64::decodeStrict(encoded) == input);
    return 0;
}

} // namespace penwick::fuzz::base64_target
