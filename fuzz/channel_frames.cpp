// The page channel's frame reader on a byte stream that arrives in pieces: the leading bytes of
// the input say where the stream is cut, the rest is the stream. However it is cut, the reader
// must find the frames it finds in the whole stream, and writing those frames again must give
// back the bytes they came from. Each frame's payload then goes through its kind's decoder.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include <fuzzer/FuzzedDataProvider.h>

#include "FuzzCheck.h"
#include "channel/AnswerPieces.h"
#include "channel/ChannelProtocol.h"

namespace penwick::fuzz::channel_frames_target {

using namespace penwick::channel;

namespace {
struct Reading {
    std::vector<Frame> frames;
    bool broken = false;
};

// Takes every complete frame; false once the reader reports a broken stream.
bool drain(FrameReader& reader, Reading& reading)
{
    for (;;) {
        Frame frame;
        switch (reader.next(frame)) {
        case FrameReader::Status::Frame:
            reading.frames.push_back(std::move(frame));
            continue;
        case FrameReader::Status::NeedMore:
            return true;
        case FrameReader::Status::Broken:
            reading.broken = true;
            return false;
        }
    }
}

bool sameFrame(const Frame& a, const Frame& b)
{
    return a.kind == b.kind && a.page == b.page && a.context == b.context && a.payload == b.payload;
}

// Large answers come in pieces; whole ones are decoded as their kind.
void decodePayload(const Frame& frame, AnswerAssembler& assembler)
{
    switch (frame.kind) {
    case FrameKind::AnswerPiece: {
        AssembledAnswer answer;
        auto taken = assembler.take(frame, answer);
        FUZZ_CHECK(!taken || assembler.idle() == (*taken == AnswerAssembler::Status::Complete));
        if (taken && *taken == AnswerAssembler::Status::Complete) {
            FUZZ_CHECK(answer.kind == FrameKind::NativeCallback || answer.kind == FrameKind::CallbackAnswer);
            decodePayload(Frame { answer.kind, answer.page, answer.context, std::string(answer.payload()) }, assembler);
        }
        break;
    }
    case FrameKind::Hello: (void)decode<Hello>(frame.payload); break;
    case FrameKind::NewContext: (void)decode<NewContext>(frame.payload); break;
    case FrameKind::ContextSetup: (void)decode<ContextSetup>(frame.payload); break;
    case FrameKind::Exec: (void)decode<ExecCall>(frame.payload); break;
    case FrameKind::ExecTooLarge: (void)decode<ExecTooLarge>(frame.payload); break;
    case FrameKind::Console: (void)decode<ConsoleCall>(frame.payload); break;
    case FrameKind::EngineConsole: (void)decode<EngineConsole>(frame.payload); break;
    case FrameKind::FrameGone: (void)decode<FrameGone>(frame.payload); break;
    case FrameKind::NativeCallback: (void)decode<NativeCallback>(frame.payload); break;
    case FrameKind::CallbackAnswer: (void)decode<CallbackAnswer>(frame.payload); break;
    case FrameKind::ExecDone:
    case FrameKind::Evaluate:
    case FrameKind::EvaluatePiece:
    case FrameKind::DialogOpener:
        break;
    }
}
} // namespace

FUZZ_TARGET(channel_frames)
{
    FuzzedDataProvider input(data, size);
    std::vector<std::size_t> cuts(input.ConsumeIntegralInRange<std::size_t>(0, 8));
    for (auto& cut : cuts)
        cut = input.ConsumeIntegralInRange<std::size_t>(0, 48);
    std::string stream = input.ConsumeRemainingBytesAsString();

    Reading whole;
    FrameReader wholeReader;
    wholeReader.feed(stream.data(), stream.size());
    drain(wholeReader, whole);

    Reading pieces;
    FrameReader pieceReader;
    std::size_t at = 0;
    for (std::size_t i = 0; at < stream.size(); ++i) {
        std::size_t n = i < cuts.size() ? std::min(cuts[i], stream.size() - at) : stream.size() - at;
        pieceReader.feed(stream.data() + at, n);
        at += n;
        if (!drain(pieceReader, pieces))
            break;
    }

    FUZZ_CHECK(pieces.broken == whole.broken);
    FUZZ_CHECK(pieces.frames.size() == whole.frames.size());
    std::string written;
    AnswerAssembler assembler;
    assembler.setMaxPayload(64 * 1024);
    for (std::size_t i = 0; i < whole.frames.size(); ++i) {
        const Frame& frame = whole.frames[i];
        FUZZ_CHECK(sameFrame(frame, pieces.frames[i]));
        FUZZ_CHECK(appendFrame(written, frame.kind, frame.page, frame.context, frame.payload));
        decodePayload(frame, assembler);
    }
    FUZZ_CHECK(stream.compare(0, written.size(), written) == 0);
    // A stream that is not broken is used up but for a frame still arriving.
    if (!whole.broken)
        FUZZ_CHECK(wholeReader.empty() == (written.size() == stream.size()));
    return 0;
}

} // namespace penwick::fuzz::channel_frames_target
