#include "io/RadianceHdr.h"

#include <emmintrin.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <bit>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <vector>

#include "adjust/ToneAdjust.h"
#include "core/Parallel.h"
#include "io/FileStatus.h"
#include "platform/SafeSave.h"

namespace lumivex {
namespace {

// Longest header line, newline included, that FreeImage's reader accepts.
constexpr std::size_t MaxHeaderLine = 256;
// Scan lines of this width and narrower or wider are stored flat, four bytes per pixel.
constexpr std::int32_t MinRleWidth = 8;
constexpr std::int32_t MaxRleWidth = 0x7fff;

bool IsRleWidth(std::int32_t width) { return width >= MinRleWidth && width <= MaxRleWidth; }

void SetCorrupt(const char* message) { SetFileStatus(TFileErrorCode::feCorrupt, message); }

void SetCutShort() { SetCorrupt("the file ends before its last scan line"); }

// "-Y height +X width" with the whitespace sscanf's "-Y %d +X %d" skips; unsigned numbers of at
// most nine digits only. Anything else is left to FreeImage.
bool ParseNumber(const char*& p, std::int32_t& value)
{
    while (std::isspace(static_cast<unsigned char>(*p)))
        ++p;
    std::int32_t digits = 0;
    value = 0;
    while (*p >= '0' && *p <= '9' && digits < 10) {
        value = value * 10 + (*p - '0');
        ++p;
        ++digits;
    }
    return digits > 0 && digits < 10;
}

bool ParseSizeLine(const std::string& line, std::int32_t& width, std::int32_t& height)
{
    const char* p = line.c_str();
    if (std::strncmp(p, "-Y", 2) != 0)
        return false;
    p += 2;
    if (!ParseNumber(p, height))
        return false;
    while (std::isspace(static_cast<unsigned char>(*p)))
        ++p;
    if (std::strncmp(p, "+X", 2) != 0)
        return false;
    p += 2;
    return ParseNumber(p, width);
}

// The low byte of the truncating conversion to a 32-bit integer, which is what a plain cast of
// a float to a byte compiles to on this machine: NaN and values out of range give 0.
std::uint8_t TruncatedByte(float v)
{
    return static_cast<std::uint8_t>(_mm_cvttss_si32(_mm_set_ss(v)) & 0xff);
}

// The first i in [from, count - 4] where four equal bytes start, else count.
std::int32_t FindLongRun(const std::uint8_t* data, std::int32_t from, std::int32_t count)
{
    std::int32_t i = from;
    // Sixteen starts at a time: bit k of the mask is set where data[i + k + 0..3] are equal.
    for (; i + 19 <= count; i += 16) {
        const auto load = [&](std::int32_t at) {
            return _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + at));
        };
        const __m128i a = load(i);
        const __m128i b = load(i + 1);
        const __m128i c = load(i + 2);
        const __m128i d = load(i + 3);
        const __m128i equal = _mm_and_si128(
            _mm_and_si128(_mm_cmpeq_epi8(a, b), _mm_cmpeq_epi8(b, c)), _mm_cmpeq_epi8(c, d));
        const auto mask = static_cast<unsigned>(_mm_movemask_epi8(equal));
        if (mask != 0)
            return i + std::countr_zero(mask);
    }
    for (; i + 4 <= count; ++i)
        if (data[i] == data[i + 1] && data[i + 1] == data[i + 2] && data[i + 2] == data[i + 3])
            return i;
    return count;
}

// The number of bytes equal to data[0], at least four (known equal) and at most limit.
std::int32_t RunLength(const std::uint8_t* data, std::int32_t limit)
{
    std::int32_t run = 4;
    const __m128i value = _mm_set1_epi8(static_cast<char>(data[0]));
    for (; run + 16 <= limit; run += 16) {
        const __m128i next = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + run));
        const auto equal = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(next, value)));
        if (equal != 0xffff)
            return run + std::countr_one(equal);
    }
    while (run < limit && data[run] == data[0])
        ++run;
    return run;
}

// Greg Ward's run-length coding of one channel of a scan line: runs of at least four equal
// bytes (at most 127), a run of two or three that is all there is before a long run (or the
// end), literal stretches of at most 128. His coder walks the line run by run; the first four
// equal bytes found here start the same long run, because a maximal run that held them but
// started earlier would have been a long run itself. Writes at most count + count / 128 + 1
// bytes at out; answers the end.
std::uint8_t* PutRle(const std::uint8_t* data, std::int32_t count, std::uint8_t* out)
{
    constexpr std::int32_t MaxRun = 127;
    constexpr std::int32_t MaxLiteral = 128;
    std::int32_t cur = 0;
    while (cur < count) {
        const std::int32_t runStart = FindLongRun(data, cur, count);
        const std::int32_t before = runStart - cur;
        if ((before == 2 || before == 3) && data[cur] == data[cur + 1] &&
            data[cur + 1] == data[runStart - 1]) {
            *out++ = static_cast<std::uint8_t>(128 + before);
            *out++ = data[cur];
            cur = runStart;
        }
        while (cur < runStart) {
            const std::int32_t literal = std::min(runStart - cur, MaxLiteral);
            *out++ = static_cast<std::uint8_t>(literal);
            std::memcpy(out, data + cur, static_cast<std::size_t>(literal));
            out += literal;
            cur += literal;
        }
        if (runStart < count) {
            const std::int32_t run = RunLength(data + runStart, std::min(count - runStart, MaxRun));
            *out++ = static_cast<std::uint8_t>(128 + run);
            *out++ = data[runStart];
            cur += run;
        }
    }
    return out;
}

// The RGBE bytes of `width` pixels as four planes of `width` bytes (R, G, B, exponent), from the
// components with negatives and NaN as 0: FloatToRgbe four pixels at a time. For a finite
// largest component v >= 1e-32 the scale frexp gives is exactly 2^(8 - e), made from v's
// exponent field; groups with an infinite component go through FloatToRgbe itself.
void ToRgbePlanes(const TColorHdr* pixels, std::size_t width, std::uint8_t* planes)
{
    // The least float whose double is not below 1e-32: the comparison FloatToRgbe makes.
    static const float Tiny = [] {
        auto t = static_cast<float>(1e-32);
        return static_cast<double>(t) < 1e-32 ? std::nextafter(t, 1.0f) : t;
    }();
    std::uint8_t* const r = planes;
    std::uint8_t* const g = planes + width;
    std::uint8_t* const b = planes + 2 * width;
    std::uint8_t* const e = planes + 3 * width;
    const auto one = [&](std::size_t i) {
        const auto positive = [](float v) { return v > 0.0f ? v : 0.0f; };
        std::uint8_t q[4];
        FloatToRgbe(positive(pixels[i].R), positive(pixels[i].G), positive(pixels[i].B), q);
        r[i] = q[0];
        g[i] = q[1];
        b[i] = q[2];
        e[i] = q[3];
    };
    const __m128 zero = _mm_setzero_ps();
    const __m128 tiny = _mm_set1_ps(Tiny);
    const __m128 infinity = _mm_set1_ps(std::numeric_limits<float>::infinity());
    const __m128i lowByte = _mm_set1_epi32(0xff);
    std::size_t x = 0;
    for (; x + 4 <= width; x += 4) {
        // B, G, R, A of four pixels to four lanes of each; max with 0 is `positive` (NaN, -0).
        __m128 p0 = _mm_loadu_ps(&pixels[x].B);
        __m128 p1 = _mm_loadu_ps(&pixels[x + 1].B);
        __m128 p2 = _mm_loadu_ps(&pixels[x + 2].B);
        __m128 p3 = _mm_loadu_ps(&pixels[x + 3].B);
        _MM_TRANSPOSE4_PS(p0, p1, p2, p3);
        const __m128 vb = _mm_max_ps(p0, zero);
        const __m128 vg = _mm_max_ps(p1, zero);
        const __m128 vr = _mm_max_ps(p2, zero);
        const __m128 v = _mm_max_ps(_mm_max_ps(vr, vg), vb);
        if (_mm_movemask_ps(_mm_cmpeq_ps(v, infinity)) != 0) {
            for (std::size_t i = x; i < x + 4; ++i)
                one(i);
            continue;
        }
        const __m128i exponent = _mm_srli_epi32(_mm_castps_si128(v), 23);
        const __m128 scale = _mm_castsi128_ps(
            _mm_slli_epi32(_mm_sub_epi32(_mm_set1_epi32(127 + 8 + 126), exponent), 23));
        const __m128i keep = _mm_castps_si128(_mm_cmpge_ps(v, tiny));
        const auto bytes = [&](__m128i lanes) {
            lanes = _mm_and_si128(_mm_and_si128(lanes, lowByte), keep);
            lanes = _mm_packs_epi32(lanes, lanes);
            return _mm_cvtsi128_si32(_mm_packus_epi16(lanes, lanes));
        };
        const auto store = [](std::uint8_t* to, int four) { std::memcpy(to, &four, 4); };
        store(r + x, bytes(_mm_cvttps_epi32(_mm_mul_ps(vr, scale))));
        store(g + x, bytes(_mm_cvttps_epi32(_mm_mul_ps(vg, scale))));
        store(b + x, bytes(_mm_cvttps_epi32(_mm_mul_ps(vb, scale))));
        store(e + x, bytes(_mm_add_epi32(exponent, _mm_set1_epi32(2))));
    }
    for (; x < width; ++x)
        one(x);
}

// Four planes of `width` bytes (R, G, B, exponent) as `width` RGBE quadruples.
void InterleavePlanes(const std::uint8_t* planes, std::size_t width, std::uint8_t* line)
{
    const std::uint8_t* const r = planes;
    const std::uint8_t* const g = r + width;
    const std::uint8_t* const b = g + width;
    const std::uint8_t* const e = b + width;
    std::size_t x = 0;
    // Sixteen pixels at a time: R with G and B with E byte by byte, then the pairs word by word.
    for (; x + 16 <= width; x += 16) {
        const auto load = [x](const std::uint8_t* plane) {
            return _mm_loadu_si128(reinterpret_cast<const __m128i*>(plane + x));
        };
        const __m128i rv = load(r);
        const __m128i gv = load(g);
        const __m128i bv = load(b);
        const __m128i ev = load(e);
        const __m128i rgLow = _mm_unpacklo_epi8(rv, gv);
        const __m128i rgHigh = _mm_unpackhi_epi8(rv, gv);
        const __m128i beLow = _mm_unpacklo_epi8(bv, ev);
        const __m128i beHigh = _mm_unpackhi_epi8(bv, ev);
        auto* out = reinterpret_cast<__m128i*>(line + 4 * x);
        _mm_storeu_si128(out, _mm_unpacklo_epi16(rgLow, beLow));
        _mm_storeu_si128(out + 1, _mm_unpackhi_epi16(rgLow, beLow));
        _mm_storeu_si128(out + 2, _mm_unpacklo_epi16(rgHigh, beHigh));
        _mm_storeu_si128(out + 3, _mm_unpackhi_epi16(rgHigh, beHigh));
    }
    for (; x < width; ++x) {
        line[4 * x] = r[x];
        line[4 * x + 1] = g[x];
        line[4 * x + 2] = b[x];
        line[4 * x + 3] = e[x];
    }
}

// One image row as the bytes of its scan line.
void EncodeRow(const TRawHdr& row, float gamma, std::vector<std::uint8_t>& out)
{
    thread_local TRawHdr mapped;
    thread_local std::vector<std::uint8_t> planes;
    const TRawHdr* values = &row;
    if (gamma != 1.0f) {
        mapped.assign(row.begin(), row.end());
        PowerRowHdr(mapped.data(), mapped.size(), gamma);
        values = &mapped;
    }
    const auto width = static_cast<std::int32_t>(values->size());
    const auto w = static_cast<std::size_t>(width);
    planes.resize(4 * w);
    ToRgbePlanes(values->data(), w, planes.data());
    const std::size_t start = out.size();
    if (!IsRleWidth(width)) {
        out.resize(start + 4 * w);
        InterleavePlanes(planes.data(), w, out.data() + start);
        return;
    }
    // Each channel codes to at most its bytes plus one count byte per 128 of them.
    out.resize(start + 4 + 4 * (w + w / 128 + 1));
    std::uint8_t* p = out.data() + start;
    *p++ = 2;
    *p++ = 2;
    *p++ = static_cast<std::uint8_t>(width >> 8);
    *p++ = static_cast<std::uint8_t>(width & 0xff);
    for (std::size_t c = 0; c < 4; ++c)
        p = PutRle(planes.data() + c * w, width, p);
    out.resize(static_cast<std::size_t>(p - out.data()));
}

bool WriteAll(std::FILE* file, const std::uint8_t* data, std::size_t size, std::string& error)
{
    if (size == 0 || std::fwrite(data, 1, size, file) == size)
        return true;
    error = std::string("write failed: ") + std::strerror(errno != 0 ? errno : EIO);
    return false;
}

bool WriteRadiance(const std::string& path, const TBmpHdr& image, float gamma, std::string& error)
{
    // Closed on every way out, an encoder's bad_alloc included; the normal close is checked.
    const auto close = [](std::FILE* f) { std::fclose(f); };
    std::unique_ptr<std::FILE, decltype(close)> owner(std::fopen(path.c_str(), "wb"), close);
    std::FILE* const file = owner.get();
    if (file == nullptr) {
        error = std::string("cannot write the file: ") + std::strerror(errno);
        return false;
    }
    // The header FreeImage writes, but for the program named in the comment.
    char header[160];
    const int headerBytes = std::snprintf(header, sizeof header,
                                          "#?RADIANCE\n# Made with Lumivex HD\n"
                                          "FORMAT=32-bit_rle_rgbe\nGAMMA=1\nEXPOSURE=0\n\n"
                                          "-Y %d +X %d\n",
                                          image.Height(), image.Width());
    bool ok = WriteAll(file, reinterpret_cast<const std::uint8_t*>(header),
                       static_cast<std::size_t>(headerBytes), error);
    // Rows are encoded on all cores a batch at a time and written in order; the batch bounds
    // the memory held for encoded lines.
    constexpr std::int64_t Batch = 256;
    std::vector<std::vector<std::uint8_t>> encoded(static_cast<std::size_t>(Batch));
    const std::int64_t height = image.Height();
    for (std::int64_t y0 = 0; ok && y0 < height; y0 += Batch) {
        const std::int64_t y1 = std::min(height, y0 + Batch);
        ParallelRows(y0, y1, [&](std::int64_t first, std::int64_t last) {
            for (std::int64_t y = first; y < last; ++y) {
                std::vector<std::uint8_t>& out = encoded[static_cast<std::size_t>(y - y0)];
                out.clear();
                EncodeRow(image.Pixels[static_cast<std::size_t>(y)], gamma, out);
            }
        });
        for (std::int64_t y = y0; ok && y < y1; ++y) {
            const std::vector<std::uint8_t>& out = encoded[static_cast<std::size_t>(y - y0)];
            ok = WriteAll(file, out.data(), out.size(), error);
        }
    }
    if (std::fclose(owner.release()) != 0 && ok) {
        error = std::string("write failed: ") + std::strerror(errno);
        ok = false;
    }
    return ok;
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Reading

// The file through a large buffer: scan line data is read a few bytes at a time.
struct TRadianceReader::TInput {
    int Fd = -1;
    static constexpr std::size_t BufferBytes = std::size_t{1} << 20;
    std::unique_ptr<std::uint8_t[]> Buffer =
        std::make_unique_for_overwrite<std::uint8_t[]>(BufferBytes);
    std::size_t Pos = 0;
    std::size_t End = 0;

    ~TInput()
    {
        if (Fd >= 0)
            ::close(Fd);
    }

    bool Refill()
    {
        ssize_t n = 0;
        do {
            n = ::read(Fd, Buffer.get(), BufferBytes);
        } while (n < 0 && errno == EINTR);
        if (n <= 0)
            return false;
        Pos = 0;
        End = static_cast<std::size_t>(n);
        return true;
    }

    bool Byte(std::uint8_t& b)
    {
        if (Pos == End && !Refill())
            return false;
        b = Buffer[Pos++];
        return true;
    }

    bool Bytes(std::uint8_t* out, std::size_t count)
    {
        while (count > 0) {
            if (Pos == End && !Refill())
                return false;
            const std::size_t n = std::min(count, End - Pos);
            std::memcpy(out, Buffer.get() + Pos, n);
            Pos += n;
            out += n;
            count -= n;
        }
        return true;
    }

    // A header line with its newline; false past the end or when longer than FreeImage reads.
    bool Line(std::string& line)
    {
        line.clear();
        std::uint8_t b = 0;
        while (line.size() < MaxHeaderLine) {
            if (!Byte(b))
                return false;
            line.push_back(static_cast<char>(b));
            if (b == '\n')
                return true;
        }
        return false;
    }
};

TRadianceReader::TRadianceReader() = default;
TRadianceReader::~TRadianceReader() = default;

bool TRadianceReader::Open(const std::string& fileName)
{
    m_in = std::make_unique<TInput>();
    m_in->Fd = ::open(fileName.c_str(), O_RDONLY | O_CLOEXEC);
    if (m_in->Fd < 0)
        return false;
    std::string line;
    if (!m_in->Line(line) || line.size() < 2 || line[0] != '#' || line[1] != '?')
        return false;
    bool rgbe = false;
    while (true) {
        if (!m_in->Line(line) || line[0] == '\0')
            return false;
        if (line[0] == '\n')
            break;
        if (line == "FORMAT=32-bit_rle_rgbe\n")
            rgbe = true;
    }
    std::int32_t width = 0;
    std::int32_t height = 0;
    if (!rgbe || !m_in->Line(line) || !ParseSizeLine(line, width, height) || width == 0 ||
        height == 0)
        return false;
    m_width = width;
    m_height = height;
    return true;
}

bool TRadianceReader::ReadFlat(std::uint8_t* line, std::int32_t pixels)
{
    if (m_in->Bytes(line, static_cast<std::size_t>(pixels) * 4))
        return true;
    SetCutShort();
    return false;
}

bool TRadianceReader::ReadLine(std::uint8_t* line)
{
    if (!IsRleWidth(m_width))
        return ReadFlat(line, m_width);
    std::uint8_t start[4];
    if (!m_in->Bytes(start, 4)) {
        SetCutShort();
        return false;
    }
    // A line that does not start with the run-length mark is stored flat.
    if (start[0] != 2 || start[1] != 2 || (start[2] & 0x80) != 0) {
        std::memcpy(line, start, 4);
        return ReadFlat(line + 4, m_width - 1);
    }
    if ((start[2] << 8 | start[3]) != m_width) {
        SetCorrupt("a scan line has the wrong width");
        return false;
    }
    const auto w = static_cast<std::size_t>(m_width);
    if (!m_planes)
        m_planes = std::make_unique<std::uint8_t[]>(4 * w);
    for (std::size_t c = 0; c < 4; ++c) {
        std::uint8_t* p = m_planes.get() + c * w;
        std::uint8_t* const end = p + w;
        while (p < end) {
            std::uint8_t code[2];
            if (!m_in->Bytes(code, 2)) {
                SetCutShort();
                return false;
            }
            const bool run = code[0] > 128;
            const std::size_t count = run ? code[0] - 128u : code[0];
            if (count == 0 || count > static_cast<std::size_t>(end - p)) {
                SetCorrupt("bad scan line data");
                return false;
            }
            if (run) {
                std::memset(p, code[1], count);
            } else {
                p[0] = code[1];
                if (count > 1 && !m_in->Bytes(p + 1, count - 1)) {
                    SetCutShort();
                    return false;
                }
            }
            p += count;
        }
    }
    InterleavePlanes(m_planes.get(), w, line);
    return true;
}

// ---------------------------------------------------------------------------------------------
// Conversions

void RgbeRowToHdr(const std::uint8_t* rgbe, TColorHdr* row, std::size_t width)
{
    // 2^(e - 136) for every exponent byte; all products with a mantissa byte are exact.
    static const std::array<float, 256> Scale = [] {
        std::array<float, 256> s{};
        for (int e = 1; e < 256; ++e)
            s[static_cast<std::size_t>(e)] = static_cast<float>(std::ldexp(1.0, e - 136));
        return s;
    }();
    for (std::size_t x = 0; x < width; ++x, rgbe += 4) {
        const float f = Scale[rgbe[3]];
        row[x] = TColorHdr{static_cast<float>(rgbe[2]) * f, static_cast<float>(rgbe[1]) * f,
                           static_cast<float>(rgbe[0]) * f, 1.0f};
    }
}

void FloatToRgbe(float red, float green, float blue, std::uint8_t rgbe[4])
{
    float v = red;
    if (green > v)
        v = green;
    if (blue > v)
        v = blue;
    if (static_cast<double>(v) < 1e-32) {
        rgbe[0] = rgbe[1] = rgbe[2] = rgbe[3] = 0;
        return;
    }
    int e = 0;
    float scale = 0.0f;
    if (std::isfinite(v)) {
        // frexp(v) * 256 / v is exactly 2^(8 - e); v is normal here, so e comes from its
        // exponent field, without the library call.
        const auto bits = std::bit_cast<std::uint32_t>(v);
        e = static_cast<int>((bits >> 23) & 0xff) - 126;
        scale = std::bit_cast<float>(static_cast<std::uint32_t>(127 + 8 - e) << 23);
    } else {
        const float mantissa = std::frexp(v, &e);
        scale = static_cast<float>(static_cast<double>(mantissa) * 256.0 / static_cast<double>(v));
    }
    rgbe[0] = TruncatedByte(red * scale);
    rgbe[1] = TruncatedByte(green * scale);
    rgbe[2] = TruncatedByte(blue * scale);
    rgbe[3] = static_cast<std::uint8_t>(e + 128);
}

// ---------------------------------------------------------------------------------------------
// Writing

bool SaveRadiance(const std::string& fileName, const TBmpHdr* image, float gamma)
{
    ClearFileStatus();
    if (image == nullptr || image->IsEmpty()) {
        SetFileStatus(TFileErrorCode::feWriteFailed, "there is no image to save");
        return false;
    }
    std::string error;
    const bool ok = SaveThroughTempFile(
        fileName,
        [&](const std::string& temp) { return WriteRadiance(temp, *image, gamma, error); }, error);
    if (!ok)
        SetFileStatusIfClear(TFileErrorCode::feWriteFailed, error);
    return ok;
}

}  // namespace lumivex
