// Wire bytes of both directions, pinned with hand-worked examples so that a
// mistake shared with the program's own framing cannot hide.
#include <gtest/gtest.h>

#include <vector>

#include "tools/sim/device_wire.h"

using namespace sim;

namespace {

std::vector<uint8_t> replyLine(uint16_t word) {
    uint8_t line[MAX_REPLY_LINE];
    int length = encodeReplyLine(word, line);
    return std::vector<uint8_t>(line, line + length);
}

std::vector<FrameEvent> feedAll(FrameDecoder& decoder, const std::vector<uint8_t>& bytes) {
    std::vector<FrameEvent> events;
    for (uint8_t byte : bytes) {
        FrameEvent found[2];
        int count = decoder.feed(byte, found);
        for (int i = 0; i < count; ++i) events.push_back(found[i]);
    }
    return events;
}

uint16_t decodeOne(const std::vector<uint8_t>& frame) {
    FrameDecoder decoder;
    std::vector<FrameEvent> events = feedAll(decoder, frame);
    EXPECT_EQ(1u, events.size());
    if (events.size() != 1 || events[0].kind != FrameEvent::WORD) return 0xFFFF;
    return events[0].word;
}

}  // namespace

TEST(ReplyLineBytes, EightBitMeasurementLines) {
    EXPECT_EQ((std::vector<uint8_t>{0x31, 0x91, 0xC2, 0x0D}), replyLine(57));
    EXPECT_EQ((std::vector<uint8_t>{0xB1, 0x91, 0x42, 0x0D}), replyLine(185));
    EXPECT_EQ((std::vector<uint8_t>{0x01, 0x01, 0x02, 0x0D}), replyLine(0));
    EXPECT_EQ((std::vector<uint8_t>{0xF1, 0xF1, 0xE2, 0x0D}), replyLine(255));
}

TEST(ReplyLineBytes, SixteenBitWordsFromPeaksToText) {
    EXPECT_EQ((std::vector<uint8_t>{0x01, 0x21, 0x41, 0xB1, 0x14, 0x0D}), replyLine(587));
    EXPECT_EQ((std::vector<uint8_t>{0x01, 0x11, 0x51, 0x91, 0xF4, 0x0D}), replyLine(345));
    EXPECT_EQ((std::vector<uint8_t>{0x01, 0xB1, 0xB1, 0x91, 0xF4, 0x0D}), replyLine(3001));
    EXPECT_EQ((std::vector<uint8_t>{0xF1, 0xE1, 0xF1, 0x11, 0xD4, 0x0D}), replyLine(65265));
    EXPECT_EQ((std::vector<uint8_t>{0xF1, 0xE1, 0xB1, 0xD1, 0x54, 0x0D}), replyLine(65213));
    EXPECT_EQ((std::vector<uint8_t>{0xF1, 0xD1, 0xF1, 0x41, 0xF4, 0x0D}), replyLine(65012));
    EXPECT_EQ((std::vector<uint8_t>{0x01, 0x51, 0xD1, 0xC1, 0xE4, 0x0D}), replyLine(1500));
    EXPECT_EQ((std::vector<uint8_t>{0x01, 0x11, 0x01, 0x01, 0x14, 0x0D}), replyLine(256));
}

TEST(ReplyLineBytes, NoWordPutsNulOrCrInsideALine) {
    for (uint32_t word = 0; word <= 0xFFFF; ++word) {
        std::vector<uint8_t> line = replyLine(static_cast<uint16_t>(word));
        ASSERT_EQ(word <= 0xFF ? 4u : 6u, line.size()) << word;
        ASSERT_EQ(0x0D, line.back());
        for (size_t i = 0; i + 1 < line.size(); ++i) {
            ASSERT_NE(0x00, line[i]) << word;
            ASSERT_NE(0x0D, line[i]) << word;
        }
    }
}

TEST(CommandFrameDecoding, WorkedExamplesGiveTheirWords) {
    EXPECT_EQ(65050, decodeOne({0xF1, 0xE1, 0x11, 0xA1, 0x84, 0x0D}));
    EXPECT_EQ(65052, decodeOne({0xF1, 0xE1, 0x11, 0xC1, 0xA4, 0x0D}));
    EXPECT_EQ(3420, decodeOne({0x01, 0xD1, 0x51, 0xC1, 0xE4, 0x0D}));
    EXPECT_EQ(0, decodeOne({0x01, 0x01, 0x01, 0x01, 0x04, 0x0D}));
}

TEST(CommandFrameDecoding, WrongChecksumIsReportedBadWithItsBytes) {
    FrameDecoder decoder;
    std::vector<FrameEvent> events = feedAll(decoder, {0xF1, 0xE1, 0x11, 0xA1, 0x85, 0x0D});
    ASSERT_EQ(1u, events.size());
    EXPECT_EQ(FrameEvent::BAD, events[0].kind);
    ASSERT_EQ(5, events[0].count);
    EXPECT_EQ(0xF1, events[0].bytes[0]);
    EXPECT_EQ(0x85, events[0].bytes[4]);
}

TEST(CommandFrameDecoding, FindsFrameBehindGarbageInTheSameLine) {
    FrameDecoder decoder;
    std::vector<FrameEvent> events = feedAll(decoder, {0x41, 0x42, 0xF1, 0xE1, 0x11, 0xA1, 0x84, 0x0D});
    ASSERT_EQ(2u, events.size());
    EXPECT_EQ(FrameEvent::BAD, events[0].kind);
    EXPECT_EQ(2, events[0].count);
    EXPECT_EQ(FrameEvent::WORD, events[1].kind);
    EXPECT_EQ(65050, events[1].word);
}

TEST(CommandFrameDecoding, GarbageLinesBetweenFramesLeaveFramesIntact) {
    FrameDecoder decoder;
    std::vector<uint8_t> stream = {0x01, 0xD1, 0x51, 0xC1, 0xE4, 0x0D, 0x99, 0x0D, 0x0D,
                                   0xF1, 0xE1, 0x11, 0xC1, 0xA4, 0x0D};
    std::vector<FrameEvent> events = feedAll(decoder, stream);
    std::vector<uint16_t> words;
    int bad = 0;
    for (const FrameEvent& event : events) {
        if (event.kind == FrameEvent::WORD) words.push_back(event.word);
        if (event.kind == FrameEvent::BAD) ++bad;
    }
    EXPECT_EQ((std::vector<uint16_t>{3420, 65052}), words);
    EXPECT_EQ(1, bad);  // the lone CR is not a frame and not worth a log line
}

TEST(CommandFrameDecoding, LongNoiseWithoutCrDoesNotHideTheNextFrame) {
    FrameDecoder decoder;
    std::vector<uint8_t> stream(200, 0x77);
    stream.insert(stream.end(), {0xF1, 0xE1, 0x11, 0xA1, 0x84, 0x0D});
    std::vector<FrameEvent> events = feedAll(decoder, stream);
    ASSERT_EQ(2u, events.size());
    EXPECT_EQ(FrameEvent::BAD, events[0].kind);
    EXPECT_EQ(65050, events[1].word);
}

TEST(CommandFrameDecoding, FrameSplitAcrossReadsIsOneFrame) {
    FrameDecoder decoder;
    EXPECT_TRUE(feedAll(decoder, {0xF1, 0xE1, 0x11}).empty());
    std::vector<FrameEvent> events = feedAll(decoder, {0xA1, 0x84, 0x0D});
    ASSERT_EQ(1u, events.size());
    EXPECT_EQ(65050, events[0].word);
}
