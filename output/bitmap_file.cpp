#include "output/bitmap_file.h"

namespace {

void put16(uint8_t* at, uint16_t value) {
    at[0] = static_cast<uint8_t>(value);
    at[1] = static_cast<uint8_t>(value >> 8);
}

void put32(uint8_t* at, uint32_t value) {
    for (int i = 0; i < 4; ++i) at[i] = static_cast<uint8_t>(value >> (8 * i));
}

bool hasColourTable(int dibDepth) { return dibDepth <= 16; }

}  // namespace

int dibDepthOf(int planes, int bitsPerPixel) {
    const int bits = planes * bitsPerPixel;
    if (bits == 1) return 1;
    if (bits <= 4) return 4;
    if (bits <= 8) return 8;
    if (bits <= 16) return 16;
    if (bits <= 24) return 24;
    return 32;
}

std::size_t bitmapInfoSize(int dibDepth) {
    std::size_t size = BITMAP_INFO_HEADER_SIZE;
    if (hasColourTable(dibDepth)) size += (std::size_t{1} << dibDepth) * 4;
    return size;
}

BitmapInfoHeader makeBitmapInfoHeader(int width, int height, int planes, int bitsPerPixel) {
    const int depth = dibDepthOf(planes, bitsPerPixel);
    BitmapInfoHeader header{};
    header.biSize = BITMAP_INFO_HEADER_SIZE;
    header.biWidth = width;
    header.biHeight = height;
    header.biPlanes = static_cast<uint16_t>(planes);
    header.biBitCount = static_cast<uint16_t>(bitsPerPixel);
    header.biCompression = 0;  // BI_RGB
    const uint32_t rowBytes = ((static_cast<uint32_t>(width) * depth + 31) & ~31u) / 8;
    header.biSizeImage = rowBytes * static_cast<uint32_t>(height);
    header.biClrUsed = hasColourTable(depth) ? 1u << depth : 0;
    return header;
}

int dumpFileLayout(const BitmapInfoHeader& header, std::size_t blockSize, DumpFileLayout* layout) {
    const uint64_t infoBytes = BITMAP_INFO_HEADER_SIZE + uint64_t{4} * header.biClrUsed;
    if (infoBytes > blockSize) return 0;
    layout->infoBytes = static_cast<uint32_t>(infoBytes);
    layout->offBits = BITMAP_FILE_HEADER_SIZE + layout->infoBytes;
    layout->fileSize = layout->offBits + header.biSizeImage;
    return 1;
}

void bitmapFileHeader(uint8_t bytes[BITMAP_FILE_HEADER_SIZE], const DumpFileLayout& layout) {
    put16(bytes, 0x4D42);  // "BM"
    put32(bytes + 2, layout.fileSize);
    put16(bytes + 6, 0);
    put16(bytes + 8, 0);
    put32(bytes + 10, layout.offBits);
}
