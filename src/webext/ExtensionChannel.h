#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "channel/AnswerPieces.h"
#include "channel/ChannelProtocol.h"

namespace penwick::webext {

// The web process's end of the channel to the host. Everything runs on the web process's main
// thread. Calls that need an answer block until it arrives; Evaluate frames that arrive while
// waiting are kept and handed to the evaluator from the main loop afterwards, in arrival order,
// so a result never runs inside the page call that produced it.
class ExtensionChannel {
public:
    // Runs scripts for a page, in order, in the document of `context` (0: the main frame's).
    // Consecutive scripts for one page and context come together.
    using Evaluator = std::function<void(std::uint64_t page, std::uint64_t context, const std::vector<std::string>& scripts)>;
    // Calls a page's native callback with a NativeCallback payload, in its place among the scripts.
    // A large answer's payload lies in `owner` (which the runner may keep); otherwise `owner` is
    // null and the payload lives only for the call.
    using CallbackRunner = std::function<void(std::uint64_t page, std::uint64_t context, std::string_view payload,
        const std::shared_ptr<channel::AnswerBuffer>& owner)>;
    // Calls a page's native callback with each CallbackAnswer payload, in order; consecutive answers
    // for one page and context come together.
    using AnswerRunner = std::function<void(std::uint64_t page, std::uint64_t context, const std::vector<std::string_view>& payloads)>;

    ExtensionChannel() = default;
    ~ExtensionChannel();
    ExtensionChannel(const ExtensionChannel&) = delete;
    ExtensionChannel& operator=(const ExtensionChannel&) = delete;

    // Connects to the host's socket and introduces itself. False (with `error` filled) when the
    // host cannot be reached; the channel then stays closed.
    bool open(const std::string& socketPath, const std::string& token, std::string& error);
    void setEvaluator(Evaluator evaluator) { m_evaluator = std::move(evaluator); }
    void setCallbackRunner(CallbackRunner runner) { m_callbackRunner = std::move(runner); }
    void setAnswerRunner(AnswerRunner runner) { m_answerRunner = std::move(runner); }
    bool isOpen() const { return m_fd >= 0; }

    // The largest payload the host takes (it says so in the initialisation data).
    void setMaxPayload(std::size_t limit)
    {
        m_maxPayload = limit;
        m_assembler.setMaxPayload(limit);
    }
    std::size_t maxPayload() const { return m_maxPayload; }
    // Where large answers are put together.
    void setAnswerMemory(const channel::AnswerBuffer::Memory& memory) { m_assembler.setMemory(memory); }
    // Sends one frame without waiting for an answer. False when it could not be sent (too large
    // for a frame, or the channel is closed).
    bool post(channel::FrameKind kind, std::uint64_t page, std::uint64_t context, std::string_view payload)
    {
        return post(kind, page, context, std::vector<std::string_view> { payload });
    }
    // The same with a payload made of these pieces in order, written where they are.
    bool post(channel::FrameKind kind, std::uint64_t page, std::uint64_t context, const std::vector<std::string_view>& pieces);
    // Sends one frame and blocks until a frame of kind `answer` arrives. Nothing when the channel
    // broke meanwhile.
    std::optional<channel::Frame> call(channel::FrameKind kind, std::uint64_t page, std::uint64_t context,
        std::string_view payload, channel::FrameKind answer)
    {
        return call(kind, page, context, std::vector<std::string_view> { payload }, answer);
    }
    std::optional<channel::Frame> call(channel::FrameKind kind, std::uint64_t page, std::uint64_t context,
        const std::vector<std::string_view>& pieces, channel::FrameKind answer);

private:
    // Writes the pieces one after another, blocking until all are written.
    bool writeAll(const std::vector<std::string_view>& pieces);
    // Reads what the socket has; with `wait`, first waits until at least something arrives (awake
    // for kSpinMicros, then asleep). False when the host is gone.
    enum class Wait { No, Yes };
    bool fill(Wait wait);
    static constexpr long kSpinMicros = 100;
    static constexpr size_t kMaxBatchBytes = 4 * 1024 * 1024;
    static constexpr size_t kMaxFillBytes = 4 * 1024 * 1024;
    // A frame to run, or a large answer put together (its payload in `large`, not in the frame).
    struct Pending {
        channel::Frame frame;
        std::shared_ptr<channel::AnswerBuffer> large;
        std::string_view payload() const { return large ? large->view() : std::string_view(frame.payload); }
    };
    // The next frame the reader holds; pieces of large answers on the way go to the assembler
    // straight from the reader's buffer.
    channel::FrameReader::Status nextFrame(channel::Frame& frame);
    // A piece of a large answer whose head has come: the rest of its bytes go from the socket
    // straight to the answer's memory. False when there is none, or the channel closed over it.
    bool startPiece();
    // The answer is here when its piece is.
    void piecePlaced();
    void keepOrDrop(channel::Frame&& frame);
    void scheduleDrain();
    void yieldWhileStreaming();
    void drain();
    void close(const char* why);

    int m_fd = -1;
    unsigned m_watch = 0;
    unsigned m_drainSource = 0;
    // When the large answer being read began to keep the socket busy, since the page last had a turn.
    gint64 m_streamingSince = 0;
    channel::FrameReader m_reader;
    // A large answer whose pieces are still coming.
    channel::AnswerAssembler m_assembler;
    // The piece being read into the answer's memory: where its bytes go, how many, how many came.
    struct PieceInPlace {
        char* to = nullptr;
        std::size_t size = 0;
        std::size_t done = 0;
    };
    std::optional<PieceInPlace> m_piece;
    std::deque<Pending> m_pending;
    // The pieces of a script too large for one frame, until its last piece comes.
    std::string m_scriptPieces;
    std::size_t m_maxPayload = channel::kMaxPayload;
    Evaluator m_evaluator;
    CallbackRunner m_callbackRunner;
    AnswerRunner m_answerRunner;
};

} // namespace penwick::webext
