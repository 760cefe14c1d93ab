#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>
#include <webkit2/webkit-web-extension.h>

#include "base/GRef.h"
#include "channel/AnswerBuffer.h"
#include "webext/DocumentScript.h"

namespace penwick::webext {

// Hands the host's answers to the page: each answer frame becomes a call of the page library's
// native callback in the document that asked, its byte buffers as ArrayBuffers where the library
// takes them.
class AnswerDelivery {
public:
    // The script context of the document an answer is for; none when that document is gone.
    using ContextLookup = std::function<DocumentScript(std::uint64_t page, std::uint64_t context)>;

    explicit AnswerDelivery(ContextLookup contextFor);

    // One NativeCallback payload (an answer holding byte buffers). The page's ArrayBuffers keep the
    // payload's own memory where `owner` holds it in memory the engine may adopt.
    void runNativeCallback(std::uint64_t page, std::uint64_t context, std::string_view payload,
        const std::shared_ptr<channel::AnswerBuffer>& owner);
    // CallbackAnswer payloads in a row for one document, run together in order.
    void runAnswers(std::uint64_t page, std::uint64_t context, const std::vector<std::string_view>& payloads);

private:
    ContextLookup m_contextFor;
};

} // namespace penwick::webext
