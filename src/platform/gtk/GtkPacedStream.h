#pragma once

#include <memory>
#include <webkit2/webkit2.h>

#include "base/GRef.h"

namespace penwick::platform {

// Hands the engine a body, `length` bytes of a base stream, read ahead off the main loop and no
// faster than the page's web process takes it.
//
// The engine reads a scheme's stream in small pieces, one main-loop turn each, and sends each piece
// to the web process as a message of its own. Handing each piece to a thread costs more than the
// bytes do, so the base stream is read ahead in large pieces into two buffers (one answers the
// engine's reads from memory while the next fills on GIO's threads), and the small reads never
// leave the main loop. A piece is at most kPieceSize: the engine carries a message above 4 KiB in a
// shared memory segment made for it alone, whose mapping and unmapping in both processes cost
// several times what the bytes do (a 256 MiB body in 8 KiB pieces took three times the processor
// time of the same in pieces just under 4 KiB).
//
// The engine sends each piece to the web process at once, however far behind that process is;
// unpaced, a large body piles up in this process on its way there. So after every kPacingStep
// bytes the stream sends the page a message, which travels behind those bytes on the same
// connection and is answered (as unhandled) only when the web process has taken them. Reads wait
// while more than kPacingWindow bytes are unanswered; the window keeps the web process supplied
// between answers. A message that fails (the page or its process is gone) proves nothing: the read
// stays parked until the engine drops the stream. Runs on the main loop, except the base stream's
// own reads.
class GtkPacedStream {
public:
    // What may be on its way to the web process before reads wait.
    static constexpr guint64 kPacingWindow = 8 << 20;
    // Each of a stream's two read-ahead buffers.
    static constexpr gsize kReadAheadSize = 512 << 10;

    // The first `length` bytes of `base` (it takes a reference), read ahead at once; `view` may be
    // null. `lease` is held until the body ends or the engine drops it.
    static GRef<GInputStream> create(GInputStream* base, guint64 length, WebKitWebView* view, std::shared_ptr<void> lease);
};

} // namespace penwick::platform
