// The channel's frame layout: frames survive being cut anywhere, and headers no version of the
// channel writes are refused.
#include <gtest/gtest.h>

#include "channel/ChannelProtocol.h"

using namespace penwick::channel;

namespace {

TEST(ChannelProtocol, FramesSplitAnywhereComeOutWholeAndInOrder)
{
    std::string stream;
    appendFrame(stream, FrameKind::Exec, 7, 9, R"(["cb","Svc","act",[1]])");
    appendFrame(stream, FrameKind::ExecDone, 7, 9, "");
    appendFrame(stream, FrameKind::Evaluate, 7, 0, std::string(100000, 'x'));
    for (size_t cut : { size_t(1), size_t(5), size_t(23), size_t(24), size_t(4096) }) {
        FrameReader reader;
        std::vector<Frame> frames;
        for (size_t at = 0; at < stream.size(); at += cut) {
            reader.feed(stream.data() + at, std::min(cut, stream.size() - at));
            Frame frame;
            while (reader.next(frame) == FrameReader::Status::Frame)
                frames.push_back(frame);
        }
        ASSERT_EQ(frames.size(), 3u) << "cut " << cut;
        EXPECT_EQ(frames[0].kind, FrameKind::Exec);
        EXPECT_EQ(frames[0].page, 7u);
        EXPECT_EQ(frames[0].context, 9u);
        EXPECT_EQ(frames[0].payload, R"(["cb","Svc","act",[1]])");
        EXPECT_EQ(frames[1].kind, FrameKind::ExecDone);
        EXPECT_TRUE(frames[1].payload.empty());
        EXPECT_EQ(frames[2].payload.size(), 100000u);
        EXPECT_TRUE(reader.empty());
    }
}

TEST(ChannelProtocol, UnknownKindsAndOversizedPayloadsBreakTheStream)
{
    for (FrameHeader header : { FrameHeader { 0, 0, 1, 1 }, FrameHeader { 0, 99, 1, 1 }, FrameHeader { kMaxPayload + 1, 4, 1, 1 } }) {
        FrameReader reader;
        reader.feed(reinterpret_cast<const char*>(&header), sizeof header);
        Frame frame;
        EXPECT_EQ(reader.next(frame), FrameReader::Status::Broken);
    }
}

} // namespace
