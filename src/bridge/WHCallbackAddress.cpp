#include "bridge/WHCallbackAddress.h"

#include <charconv>

namespace penwick {
namespace {
// Marks the start and the end of the context id; no page library uses it in its ids.
constexpr char kMark = '\x1F';
constexpr std::string_view kNoAnswer = "INVALID";
} // namespace

std::string WHCallbackAddress::bind(std::uint64_t context, std::string_view callbackId)
{
    if (context == 0 || callbackId == kNoAnswer)
        return std::string(callbackId);
    std::string bound(1, kMark);
    bound += std::to_string(context);
    bound += kMark;
    bound += callbackId;
    return bound;
}

WHCallbackAddress WHCallbackAddress::parse(std::string_view boundId)
{
    if (boundId.size() < 3 || boundId.front() != kMark)
        return { 0, std::string(boundId) };
    auto end = boundId.find(kMark, 1);
    std::uint64_t context = 0;
    if (end == std::string_view::npos)
        return { 0, std::string(boundId) };
    auto [last, error] = std::from_chars(boundId.data() + 1, boundId.data() + end, context);
    if (error != std::errc() || last != boundId.data() + end || context == 0)
        return { 0, std::string(boundId) };
    return { context, std::string(boundId.substr(end + 1)) };
}

} // namespace penwick
