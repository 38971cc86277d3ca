#include "io/HeaderCheck.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <iterator>
#include <span>
#include <vector>

#include "platform/Bitmap.h"
#include "platform/BmpFile.h"

namespace lumivex {
namespace {

constexpr std::uint32_t ExrMagic = 20000630;  // 76 2f 31 01
constexpr std::uint32_t ExrTiledFlag = 0x200;
constexpr std::uint32_t ExrNonImageFlag = 0x800;
constexpr std::uint32_t ExrMultipartFlag = 0x1000;

std::uint32_t ReadU32(const std::uint8_t* p)
{
    return std::uint32_t{p[0]} | std::uint32_t{p[1]} << 8 | std::uint32_t{p[2]} << 16 |
           std::uint32_t{p[3]} << 24;
}

std::int32_t ReadI32(const std::uint8_t* p)
{
    const std::uint32_t u = ReadU32(p);
    std::int32_t v;
    std::memcpy(&v, &u, sizeof v);
    return v;
}

int LinesPerBlock(int compression)
{
    switch (compression) {
        case 3:  // ZIP
        case 5:  // PXR24
            return 16;
        case 4:  // PIZ
        case 6:  // B44
        case 7:  // B44A
        case 8:  // DWAA
            return 32;
        case 9:  // DWAB
            return 256;
        default:  // NONE, RLE, ZIPS
            return 1;
    }
}

// Walks the attribute list of a single-part header and checks that the chunk offset table of a
// scan-line image lies inside the file.
bool CheckExr(std::span<const std::uint8_t> data, std::uint64_t fileSize, std::string& error)
{
    error = "truncated or damaged OpenEXR header";
    if (data.size() < 8)
        return false;
    const std::uint32_t flags = ReadU32(data.data() + 4);
    std::size_t pos = 8;
    auto readString = [&](std::string& s) {
        const std::size_t start = pos;
        while (pos < data.size() && data[pos] != 0)
            ++pos;
        if (pos >= data.size() || pos - start > 255)
            return false;
        s.assign(reinterpret_cast<const char*>(data.data() + start), pos - start);
        ++pos;
        return true;
    };
    int compression = -1;
    bool haveWindow = false;
    std::int64_t height = 0;
    while (true) {
        std::string name;
        if (!readString(name))
            return false;
        if (name.empty())
            break;
        std::string type;
        if (!readString(type) || pos + 4 > data.size())
            return false;
        const std::int32_t size = ReadI32(data.data() + pos);
        pos += 4;
        if (size < 0 || static_cast<std::size_t>(size) > data.size() - pos)
            return false;
        const std::uint8_t* value = data.data() + pos;
        if (name == "compression" && size >= 1)
            compression = value[0];
        if (name == "dataWindow" && type == "box2i" && size == 16) {
            const std::int64_t xMin = ReadI32(value);
            const std::int64_t yMin = ReadI32(value + 4);
            const std::int64_t xMax = ReadI32(value + 8);
            const std::int64_t yMax = ReadI32(value + 12);
            if (xMax < xMin || yMax < yMin) {
                error = "invalid OpenEXR data window";
                return false;
            }
            height = yMax - yMin + 1;
            haveWindow = true;
        }
        pos += static_cast<std::size_t>(size);
    }
    if (!haveWindow || compression < 0)
        return false;
    // Tiled, deep and multi-part files have other offset tables; their headers at least parsed.
    if ((flags & (ExrTiledFlag | ExrNonImageFlag | ExrMultipartFlag)) == 0) {
        const std::uint64_t chunks =
            (static_cast<std::uint64_t>(height) + LinesPerBlock(compression) - 1) /
            static_cast<std::uint64_t>(LinesPerBlock(compression));
        if (pos + chunks * 8 > fileSize) {
            error = "truncated OpenEXR file";
            return false;
        }
    }
    return true;
}

}  // namespace

bool CheckKnownHeaderBytes(std::span<const std::uint8_t> head, std::uint64_t fileSize,
                           std::string& error)
{
    if (head.size() < 2)
        return true;
    if (head.size() >= 4 && ReadU32(head.data()) == ExrMagic)
        return CheckExr(head, fileSize, error);
    if (head[0] == 'B' && head[1] == 'M' && head.size() == fileSize) {
        // Our reader is strict about offsets, palettes and lengths; FreeImage is not.
        TBitmap bitmap;
        return LoadBmpFromMemory(head, bitmap, error);
    }
    return true;
}

bool CheckKnownHeader(const std::string& fileName, std::string& error)
{
    std::ifstream in(fileName, std::ios::binary);
    if (!in)
        return true;  // the loader reports unreadable files itself
    std::uint8_t magic[4] = {};
    in.read(reinterpret_cast<char*>(magic), sizeof magic);
    if (in.gcount() < 2)
        return true;
    const bool bmp = magic[0] == 'B' && magic[1] == 'M';
    if (in.gcount() < 4 && !bmp)
        return true;
    if (!bmp && ReadU32(magic) != ExrMagic)
        return true;
    in.clear();  // a file shorter than the magic left the stream at its end, failed
    in.seekg(0, std::ios::end);
    const std::streamoff end = in.tellg();
    if (end < 0)
        return true;
    const auto fileSize = static_cast<std::uint64_t>(end);
    in.seekg(0);
    // EXR headers are small; 4 MiB leaves room for many attributes. A BMP is read whole.
    const std::uint64_t wanted = bmp ? fileSize : std::min<std::uint64_t>(fileSize, 4u << 20);
    std::vector<std::uint8_t> head(static_cast<std::size_t>(wanted));
    in.read(reinterpret_cast<char*>(head.data()), static_cast<std::streamsize>(head.size()));
    head.resize(static_cast<std::size_t>(in.gcount()));
    return CheckKnownHeaderBytes(head, fileSize, error);
}

}  // namespace lumivex
