// The screen dump's file: an uncompressed Windows bitmap, little-endian,
// whose info block follows the display's colour depth. Portable, so that
// every depth can be checked without a display of that depth.
#pragma once

#include <cstddef>
#include <cstdint>

// The platform's BITMAPINFOHEADER, field for field; the Win32 side hands the
// info block to GetDIBits as a BITMAPINFO.
struct BitmapInfoHeader {
    uint32_t biSize;
    int32_t biWidth;
    int32_t biHeight;
    uint16_t biPlanes;
    uint16_t biBitCount;
    uint32_t biCompression;
    uint32_t biSizeImage;
    int32_t biXPelsPerMeter;
    int32_t biYPelsPerMeter;
    uint32_t biClrUsed;
    uint32_t biClrImportant;
};
static_assert(sizeof(BitmapInfoHeader) == 40, "BITMAPINFOHEADER is 40 bytes");

constexpr uint32_t BITMAP_FILE_HEADER_SIZE = 14;
constexpr uint32_t BITMAP_INFO_HEADER_SIZE = 40;

// planes x bits per pixel rounded up to a DIB depth: 1, 4, 8, 16, 24 or 32.
int dibDepthOf(int planes, int bitsPerPixel);

// Bytes of the info block for a depth: the header, and for depths up to 16
// room for 1 << depth colour entries of 4 bytes.
std::size_t bitmapInfoSize(int dibDepth);

// The header of a bitmap as GetObject describes it; rows bottom-up, each
// padded to whole 32-bit words in biSizeImage.
BitmapInfoHeader makeBitmapInfoHeader(int width, int height, int planes, int bitsPerPixel);

// Where the parts of the file go, from the header as the pixel read left it.
struct DumpFileLayout {
    uint32_t infoBytes;  // the header and the colour table
    uint32_t offBits;    // where the pixels start
    uint32_t fileSize;
};
// Returns 0 when the colour table the header announces lies outside an info
// block of blockSize bytes (nothing past the block may be written), else 1.
int dumpFileLayout(const BitmapInfoHeader& header, std::size_t blockSize, DumpFileLayout* layout);

// The 14-byte BITMAPFILEHEADER: "BM", size, two reserved words, offset.
void bitmapFileHeader(uint8_t bytes[BITMAP_FILE_HEADER_SIZE], const DumpFileLayout& layout);
