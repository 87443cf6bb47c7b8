#include "output/bitmap_file.h"

#include <gtest/gtest.h>

#include <string>

#include "tests/support/recording_surface.h"
#include "output/screen_dump.h"
#include "../display/display_test_support.h"

TEST(BitmapInfo, DepthRoundsUpToADibDepth) {
    const int cases[][3] = {{1, 1, 1},  {1, 2, 4},  {2, 2, 4},  {1, 4, 4},  {1, 5, 8},   {1, 8, 8},
                            {1, 15, 16}, {1, 16, 16}, {1, 24, 24}, {3, 8, 24}, {1, 32, 32}, {4, 8, 32}};
    for (const auto& c : cases) EXPECT_EQ(c[2], dibDepthOf(c[0], c[1])) << c[0] << " x " << c[1];
}

TEST(BitmapInfo, BlockHasRoomForTheColourTableUpTo16Bits) {
    EXPECT_EQ(48u, bitmapInfoSize(1));
    EXPECT_EQ(104u, bitmapInfoSize(4));
    EXPECT_EQ(1064u, bitmapInfoSize(8));
    EXPECT_EQ(262184u, bitmapInfoSize(16));
    EXPECT_EQ(40u, bitmapInfoSize(24));
    EXPECT_EQ(40u, bitmapInfoSize(32));
}

// Rows padded to whole 32-bit words, for every depth; a window 803 pixels
// wide at 24 bits has rows of 2412 bytes.
TEST(BitmapInfo, HeaderFieldsAndPaddedImageSize) {
    const struct {
        int bits;
        uint32_t rowBytes;
        uint32_t colours;
    } cases[] = {{1, 104, 2}, {4, 404, 16}, {8, 804, 256}, {16, 1608, 65536}, {24, 2412, 0}, {32, 3212, 0}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.bits);
        BitmapInfoHeader header = makeBitmapInfoHeader(803, 600, 1, c.bits);
        EXPECT_EQ(40u, header.biSize);
        EXPECT_EQ(803, header.biWidth);
        EXPECT_EQ(600, header.biHeight);
        EXPECT_EQ(1, header.biPlanes);
        EXPECT_EQ(c.bits, header.biBitCount);
        EXPECT_EQ(0u, header.biCompression);
        EXPECT_EQ(c.rowBytes * 600, header.biSizeImage);
        EXPECT_EQ(c.colours, header.biClrUsed);
        EXPECT_EQ(0, header.biXPelsPerMeter);
        EXPECT_EQ(0u, header.biClrImportant);
    }
    EXPECT_EQ(4u * 3u, makeBitmapInfoHeader(3, 1, 1, 24).biSizeImage) << "9 bytes padded to 12";
}

TEST(BitmapFile, FileHeaderFromTheHeaderAsTheReadLeftIt) {
    BitmapInfoHeader header = makeBitmapInfoHeader(960, 420, 1, 32);
    DumpFileLayout layout{};
    ASSERT_EQ(1, dumpFileLayout(header, bitmapInfoSize(32), &layout));
    EXPECT_EQ(40u, layout.infoBytes);
    EXPECT_EQ(54u, layout.offBits);
    EXPECT_EQ(54u + 960u * 4u * 420u, layout.fileSize);
    uint8_t bytes[BITMAP_FILE_HEADER_SIZE];
    bitmapFileHeader(bytes, layout);
    const uint8_t expected[14] = {'B', 'M', 0x36, 0x9C, 0x18, 0, 0, 0, 0, 0, 54, 0, 0, 0};
    for (int i = 0; i < 14; ++i) EXPECT_EQ(expected[i], bytes[i]) << "offset " << i;

    header = makeBitmapInfoHeader(960, 420, 1, 16);
    ASSERT_EQ(1, dumpFileLayout(header, bitmapInfoSize(16), &layout));
    EXPECT_EQ(262198u, layout.offBits);
    header = makeBitmapInfoHeader(960, 420, 1, 8);
    ASSERT_EQ(1, dumpFileLayout(header, bitmapInfoSize(8), &layout));
    EXPECT_EQ(1078u, layout.offBits);
}

// A pixel read that announced more colours than the block holds would make
// the writer read past the block.
TEST(BitmapFile, ColourTableBeyondTheBlockIsRefused) {
    BitmapInfoHeader header = makeBitmapInfoHeader(10, 10, 1, 8);
    header.biClrUsed = 257;
    DumpFileLayout layout{};
    EXPECT_EQ(0, dumpFileLayout(header, bitmapInfoSize(8), &layout));
    header.biClrUsed = 0xFFFFFFFFu;
    EXPECT_EQ(0, dumpFileLayout(header, bitmapInfoSize(16), &layout));
}

class DumpHeader : public DisplayTest {};

TEST_F(DumpHeader, RefreshDrawsTheCurrentHeaderLineAndRestoresTheSurface) {
    setDeviceText("ELQ770 SIM");
    liveState.measurement = 42;
    RecordingSurface surface;
    SurfaceState before = surface.state();
    refreshHeaderBand(surface);
    EXPECT_EQ(before, surface.state());
    std::vector<SurfaceCall> fills = surface.callsOf(SurfaceOp::RECTANGLE);
    ASSERT_EQ(1u, fills.size());
    EXPECT_TRUE(samePoint(fills[0], 25, 15));
    EXPECT_EQ(DrawObject::PANEL_BRUSH, fills[0].object);
    const SurfaceCall* line = surface.findText("Corvanta: ELQ770 SIM" + blanks(25));
    ASSERT_NE(nullptr, line);
    EXPECT_TRUE(samePoint(*line, 35, 45));
    EXPECT_EQ(DrawObject::VALUE_FONT, line->object);
    EXPECT_EQ(ALIGN_LEFT | ALIGN_BOTTOM, line->align);
    EXPECT_EQ(PANEL_GREY, line->colour);
}

// Inside the per-monitor-aware context Windows itself gives the window's
// rectangle in physical pixels, so the area copied is that rectangle as it
// stands; the scaling is the system's and is checked by hand (the Windows
// check list). The rows are the program's window (803 x 600 at 100 %, at
// 40,30) as such a thread sees it at 125, 150 and 200 %. Empty, inverted
// and oversized rectangles (a minimised or torn-down window) copy nothing.
TEST(DumpArea, PhysicalRectangleIsCopiedWholeAndBadShapesAreRefused) {
    const struct {
        DumpRect window;
        DumpArea area;
    } cases[] = {
        {{40, 30, 843, 630}, {40, 30, 803, 600}},     // 100 %
        {{50, 38, 1054, 788}, {50, 38, 1004, 750}},   // 125 %
        {{60, 45, 1265, 945}, {60, 45, 1205, 900}},   // 150 %
        {{80, 60, 1686, 1260}, {80, 60, 1606, 1200}}, // 200 %
        {{-1606, 60, 0, 1260}, {-1606, 60, 1606, 1200}},  // on a monitor left of the main one
    };
    for (const auto& c : cases) {
        DumpArea area{};
        ASSERT_TRUE(dumpAreaOf(c.window, &area)) << c.window.right;
        EXPECT_EQ(c.area.x, area.x);
        EXPECT_EQ(c.area.y, area.y);
        EXPECT_EQ(c.area.width, area.width);
        EXPECT_EQ(c.area.height, area.height);
    }
    const DumpRect refused[] = {{0, 0, 0, 10}, {10, 0, 0, 10}, {0, 0, 10, -5}, {-32000, -32000, 32000, 10}};
    DumpArea untouched{1, 2, 3, 4};
    for (const DumpRect& window : refused) EXPECT_FALSE(dumpAreaOf(window, &untouched)) << window.left;
    EXPECT_EQ(3, untouched.width);
}

// On Windows 10 and 11 the window rectangle holds an invisible resizing
// border (7 px at 100 % on the left, right and bottom); the compositor's
// frame leaves it out. A frame that is missing, empty, or not within the
// rectangle (not in its pixels: scaled coordinates against physical ones)
// leaves the whole rectangle.
TEST(DumpArea, VisibleFrameIsCopiedWhereItLiesWithinTheWindow) {
    const DumpRect window{33, 30, 850, 637};
    const DumpRect frame{40, 30, 843, 630};
    EXPECT_EQ(40, dumpRectOf(window, &frame).left);
    EXPECT_EQ(843, dumpRectOf(window, &frame).right);
    EXPECT_EQ(630, dumpRectOf(window, &frame).bottom);
    EXPECT_EQ(850, dumpRectOf(window, nullptr).right);
    const DumpRect physicalAgainstScaled{60, 45, 1265, 945};  // 150 %: larger than the scaled rectangle
    const DumpRect empty{0, 0, 0, 0};
    const DumpRect partlyOutside{20, 30, 843, 630};
    for (const DumpRect* other : {&physicalAgainstScaled, &empty, &partlyOutside}) {
        DumpRect chosen = dumpRectOf(window, other);
        EXPECT_EQ(window.left, chosen.left);
        EXPECT_EQ(window.top, chosen.top);
        EXPECT_EQ(window.right, chosen.right);
        EXPECT_EQ(window.bottom, chosen.bottom);
    }
}

// The new file sits beside the chosen one with a name of five characters:
// in a folder too long for GetTempFileName (more than MAX_PATH - 14), its
// path still fits within MAX_PATH wherever the chosen file's does.
TEST(DumpTempFile, NamedBesideTheChosenFileWithinItsLength) {
    const std::u16string folder = u"C:\\" + std::u16string(247, u'f');  // 250 characters
    const std::u16string chosen = folder + u"\\a.bmp";
    char16_t path[260];
    ASSERT_TRUE(dumpTempPath(chosen.c_str(), 0x1A2B, path, 260));
    EXPECT_EQ(folder + u"\\~1A2B", std::u16string(path));
    EXPECT_LE(std::u16string(path).size(), chosen.size() + 4);
    ASSERT_TRUE(dumpTempPath(u"/tmp/dump.bmp", 0x3001A2B, path, 260));
    EXPECT_EQ(u"/tmp/~1A2B", std::u16string(path)) << "the low 16 bits name the try";
    EXPECT_FALSE(dumpTempPath(u"dump.bmp", 1, path, 260)) << "no folder";
    EXPECT_FALSE(dumpTempPath(chosen.c_str(), 1, path, 256)) << "no room for the terminator";
}
