#include <gtest/gtest.h>

#include <cstdint>
#include <numeric>
#include <utility>
#include <vector>

#include "platform/Bitmap.h"

namespace lumivex {
namespace {

// Bytes lent to a bitmap, counting how often they are given back.
struct TLoan {
    std::vector<std::uint8_t> Bytes;
    int Released = 0;

    explicit TLoan(std::size_t size) : Bytes(size)
    {
        std::iota(Bytes.begin(), Bytes.end(), std::uint8_t{1});
    }
    TBitmap Lend(std::int32_t width, std::int32_t height)
    {
        return TBitmap::OnBytes(width, height, TPixelFormat::pf24bit, Bytes.data(),
                                [this](std::uint8_t* p) {
                                    EXPECT_EQ(p, Bytes.data());
                                    ++Released;
                                });
    }
};

TEST(TBitmapOnBytes, RowsAreTheLentBytesUntilTheBitmapLetsGoOfThemOnce)
{
    TLoan loan(5 * 3 * 4);
    {
        TBitmap bitmap = loan.Lend(5, 4);
        ASSERT_EQ(bitmap.Width(), 5);
        ASSERT_EQ(bitmap.Height(), 4);
        EXPECT_EQ(bitmap.ScanLine(0), loan.Bytes.data());
        EXPECT_EQ(bitmap.ScanLine(3), loan.Bytes.data() + 45);
        TBitmap moved = std::move(bitmap);
        EXPECT_EQ(moved.ScanLine(2), loan.Bytes.data() + 30);
        EXPECT_EQ(loan.Released, 0);
    }
    EXPECT_EQ(loan.Released, 1);

    // Every way of giving the bytes up releases them: assignment, a new size, a new format.
    TBitmap assigned = loan.Lend(5, 4);
    assigned = TBitmap(2, 2, TPixelFormat::pf24bit);
    EXPECT_EQ(loan.Released, 2);
    TBitmap resized = loan.Lend(5, 4);
    resized.SetSize(3, 3);
    EXPECT_EQ(loan.Released, 3);
    EXPECT_EQ(resized.ScanLine(2)[8], 0);
    TBitmap converted = loan.Lend(5, 4);
    converted.SetPixelFormat(TPixelFormat::pf32bit);
    EXPECT_EQ(loan.Released, 4);
    EXPECT_EQ(converted.ScanLine(1)[4 * 2 + 1], loan.Bytes[15 + 3 * 2 + 1]);
    EXPECT_EQ(converted.ScanLine(1)[4 * 2 + 3], 255);
}

TEST(TBitmapOnBytes, ACopyOwnsItsBytes)
{
    TLoan loan(4 * 3 * 2);
    TBitmap lent = loan.Lend(4, 2);
    TBitmap copy = lent;
    TBitmap assigned;
    assigned = lent;
    for (const TBitmap* other : {&copy, &assigned}) {
        ASSERT_EQ(other->Width(), 4);
        ASSERT_EQ(other->Height(), 2);
        EXPECT_NE(other->ScanLine(0), loan.Bytes.data());
        EXPECT_EQ(std::vector<std::uint8_t>(other->ScanLine(0), other->ScanLine(0) + 24),
                  loan.Bytes);
    }
    copy.ScanLine(1)[0] = 0;
    EXPECT_EQ(loan.Bytes[12], 13);
    lent = TBitmap();
    EXPECT_EQ(loan.Released, 1);
    EXPECT_EQ(assigned.ScanLine(1)[0], 13);
}

}  // namespace
}  // namespace lumivex
