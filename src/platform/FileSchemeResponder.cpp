#include "platform/FileSchemeResponder.h"

#include <algorithm>
#include <charconv>

namespace penwick::platform {
namespace {

std::string_view trimBlanks(std::string_view s)
{
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t'))
        s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t'))
        s.remove_suffix(1);
    return s;
}

std::optional<std::uint64_t> parseNumber(std::string_view s)
{
    if (s.empty())
        return std::nullopt;
    std::uint64_t value = 0;
    auto [end, error] = std::from_chars(s.data(), s.data() + s.size(), value);
    if (error != std::errc() || end != s.data() + s.size())
        return std::nullopt;
    return value;
}

bool startsWithIgnoringCase(std::string_view s, std::string_view prefix)
{
    if (s.size() < prefix.size())
        return false;
    for (size_t i = 0; i < prefix.size(); ++i) {
        char c = s[i];
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
        if (c != prefix[i])
            return false;
    }
    return true;
}

} // namespace

// The app's files have the origin "file://" since the host lets them read files. Opaque origins
// ("null": sandboxed and data: frames, files without that right) are never the app's.
SchemeRules::SchemeRules(std::string scheme)
    : SchemeRules(scheme, { "file://", scheme + "://localhost" }, {})
{
}

SchemeRules::SchemeRules(std::string scheme, std::vector<std::string> ownOrigins, std::vector<std::pair<std::string, std::string>> headers,
    SchemeAudience audience)
    : scheme(std::move(scheme))
    , ownOrigins(std::move(ownOrigins))
    , headers(std::move(headers))
    , audience(audience)
{
}

const std::string* SchemeResponse::header(std::string_view name) const
{
    for (const auto& [key, value] : headers) {
        if (key == name)
            return &value;
    }
    return nullptr;
}

FileSchemeResponder::ParsedRange FileSchemeResponder::parseRange(std::string_view header, std::uint64_t size)
{
    header = trimBlanks(header);
    if (!startsWithIgnoringCase(header, "bytes="))
        return {};
    std::string_view set = trimBlanks(header.substr(6));
    if (set.find(',') != std::string_view::npos)
        return {};
    size_t dash = set.find('-');
    if (dash == std::string_view::npos)
        return {};
    std::string_view firstText = trimBlanks(set.substr(0, dash)), lastText = trimBlanks(set.substr(dash + 1));
    if (firstText.empty()) {
        // The last n bytes.
        auto count = parseNumber(lastText);
        if (!count)
            return {};
        if (*count == 0 || size == 0)
            return { RangeKind::Unsatisfiable, {} };
        std::uint64_t n = std::min(*count, size);
        return { RangeKind::Satisfiable, { size - n, size - 1 } };
    }
    auto first = parseNumber(firstText);
    if (!first)
        return {};
    std::uint64_t last = size ? size - 1 : 0;
    if (!lastText.empty()) {
        auto given = parseNumber(lastText);
        if (!given || *given < *first)
            return {};
        last = std::min(*given, last);
    }
    if (*first >= size)
        return { RangeKind::Unsatisfiable, {} };
    return { RangeKind::Satisfiable, { *first, last } };
}

bool FileSchemeResponder::admits(const SchemeRequest& request, const SchemeRules& rules)
{
    bool served = request.view == RequestingView::App
        || (request.view == RequestingView::AppShowingOther && rules.audience == SchemeAudience::AppViews);
    return served
        && (!request.origin || std::find(rules.ownOrigins.begin(), rules.ownOrigins.end(), *request.origin) != rules.ownOrigins.end());
}

SchemeResponse FileSchemeResponder::refusal()
{
    SchemeResponse response;
    response.headers.emplace_back("Cache-Control", "no-cache");
    return response;
}

SchemeResponse FileSchemeResponder::respond(const SchemeRequest& request, const std::optional<ServedFile>& file,
    std::optional<std::uint64_t> size, const SchemeRules& rules)
{
    if (!admits(request, rules))
        return refusal();
    SchemeResponse response;
    response.headers.emplace_back("Cache-Control", "no-cache");
    response.headers.insert(response.headers.end(), rules.headers.begin(), rules.headers.end());
    bool cors = request.origin.has_value();
    if (cors) {
        response.headers.emplace_back("Access-Control-Allow-Origin", *request.origin);
        response.headers.emplace_back("Access-Control-Expose-Headers", "Accept-Ranges, Content-Length, Content-Range, Content-Type");
        response.headers.emplace_back("Vary", "Origin");
    }
    if (request.method == "OPTIONS") {
        response.status = 204;
        if (cors) {
            response.headers.emplace_back("Access-Control-Allow-Methods", "GET, HEAD, OPTIONS");
            response.headers.emplace_back("Access-Control-Allow-Headers", "Range");
        }
        return response;
    }
    if (!file || !size || (request.method != "GET" && request.method != "HEAD")) {
        response.status = file && size ? 405 : 404;
        return response;
    }
    auto range = request.range ? parseRange(*request.range, *size) : ParsedRange {};
    if (range.kind == RangeKind::Unsatisfiable) {
        response.status = 416;
        response.headers.emplace_back("Content-Range", "bytes */" + std::to_string(*size));
        return response;
    }
    response.headers.emplace_back("Content-Type", file->mimeType);
    response.headers.emplace_back("Accept-Ranges", "bytes");
    if (range.kind == RangeKind::Satisfiable) {
        response.status = 206;
        response.offset = range.range.first;
        response.length = range.range.last - range.range.first + 1;
        response.headers.emplace_back("Content-Length", std::to_string(response.length));
        response.headers.emplace_back("Content-Range",
            "bytes " + std::to_string(range.range.first) + "-" + std::to_string(range.range.last) + "/" + std::to_string(*size));
    } else {
        response.status = 200;
        response.length = *size;
        response.headers.emplace_back("Content-Length", std::to_string(*size));
    }
    response.hasBody = request.method == "GET";
    return response;
}

} // namespace penwick::platform
