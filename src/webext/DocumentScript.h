#pragma once

#include <webkit2/webkit-web-extension.h>

#include "base/GRef.h"

namespace penwick::webext {

// The script context of one document, and where that document keeps the function its answers run
// through: made once per document rather than per answer. The slot lives as long as the document's
// entry in the frame table (null when nothing keeps one, e.g. for the main frame's unnamed context);
// it is read before any page script runs, never after, since a script may end the document.
struct DocumentScript {
    GRef<JSCContext> context;
    GRef<JSCValue>* answerLoop = nullptr;
};

} // namespace penwick::webext
