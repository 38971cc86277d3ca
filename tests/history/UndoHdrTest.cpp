#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <memory>
#include <vector>

#include "TestImages.h"
#include "core/BmpHdr.h"
#include "history/UndoHdr.h"

namespace lumivex {
namespace {

using test::Copy;
using test::SameBits;

// Every pixel differs, with values outside 0..1, a NaN and a negative zero, so any misplaced or
// converted value shows.
TBmpHdr Pattern(int width, int height, float seed)
{
    TBmpHdr image;
    image.SetSize(width, height, clNoneHdr);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            image.Pixels[y][x] = TColorHdr{seed + 0.001f * static_cast<float>(x),
                                           -seed + 0.37f * static_cast<float>(y),
                                           1.5f * seed * static_cast<float>(x + y), 0.125f * seed};
    image.Pixels[0][0].B = std::numeric_limits<float>::quiet_NaN();
    image.Pixels[height - 1][width - 1].G = -0.0f;
    return image;
}

// A stand-in operation: every pixel of the rectangle changes.
void Scribble(TBmpHdr& image, TRect rect)
{
    ClipRectHdr(&image, rect);
    for (int y = rect.Top; y < rect.Bottom; ++y)
        for (int x = rect.Left; x < rect.Right; ++x) {
            TColorHdr& p = image.Pixels[y][x];
            p = TColorHdr{p.R * 2.0f + 1.0f, 7.0f, -p.B, 1.0f};
        }
}

std::unique_ptr<TUndoItem> Plain(const char* caption)
{
    auto item = std::make_unique<TUndoItem>();
    item->Caption = caption;
    return item;
}

TEST(TUndoItem, SerialNumbersGrowByOneAndAreNeverReused)
{
    std::int32_t first = 0;
    {
        TUndoItem a;
        first = a.Id();
        EXPECT_GE(first, 1);  // the counter starts at 0 and is incremented before use
    }
    TUndoItem b;  // a's number is free again, but never given out twice
    EXPECT_EQ(b.Id(), first + 1);
    TBmpHdr image = Pattern(3, 3, 1.0f);
    auto c = TUndoHdrItem::CreateRegion(&image, MaxRectHdr);
    EXPECT_EQ(c->Id(), first + 2);
    TUndoList list(7);
    list.Add(Plain("x"));
    list.Clear();
    TUndoList other(7);  // another document's history continues the same count
    auto d = std::make_unique<TUndoItem>();
    EXPECT_EQ(d->Id(), first + 4);
}

TEST(TUndoItem, TagsAreKeptByIndexAndOutsideIndicesAreIgnored)
{
    TUndoItem item;
    for (int i = 0; i < 10; ++i)
        EXPECT_EQ(item.GetTag(i), 0);
    item.SetTag(0, 100);
    item.SetTag(9, -1);
    item.SetTag(10, 5);
    item.SetTag(-1, 5);
    EXPECT_EQ(item.GetTag(0), 100);
    EXPECT_EQ(item.GetTag(9), -1);
    EXPECT_EQ(item.GetTag(10), 0);
    EXPECT_EQ(item.GetTag(-1), 0);
    EXPECT_EQ(item.GetMemorySize(), 0);
}

TEST(TUndoHdrItem, RegionUndoThenRedoRestoresBitForBit)
{
    TBmpHdr image = Pattern(20, 15, 0.5f);
    const TBmpHdr before = Copy(image);
    const TRect rect{12, -4, 99, 9};  // overhangs the right and top edges
    auto item = TUndoHdrItem::CreateRegion(&image, rect);
    EXPECT_EQ(item->SavedRect(), (TRect{12, 0, 20, 9}));
    EXPECT_TRUE(item->IsRegion());
    EXPECT_TRUE(item->KeepsSize());
    ASSERT_NE(item->Saved(), nullptr);
    EXPECT_EQ(item->Saved()->Width(), 8);
    EXPECT_EQ(item->Saved()->Height(), 9);
    Scribble(image, rect);
    const TBmpHdr after = Copy(image);
    ASSERT_FALSE(SameBits(before, after));

    item->Undo();
    EXPECT_TRUE(SameBits(image, before));
    item->Redo();
    EXPECT_TRUE(SameBits(image, after));
    item->Undo();
    EXPECT_TRUE(SameBits(image, before));
}

TEST(TUndoHdrItem, WholeImageUndoGivesBackTheSizeBySwappingRows)
{
    TBmpHdr image = Pattern(400, 300, 0.25f);
    const TBmpHdr before = Copy(image);
    int changes = 0;
    image.OnChange = [&](TBmpHdr&) { ++changes; };
    auto item = TUndoHdrItem::CreateWhole(&image);
    EXPECT_FALSE(item->IsRegion());
    EXPECT_EQ(item->SavedRect(), (TRect{0, 0, 400, 300}));
    EXPECT_TRUE(item->KeepsSize());

    // The operation: a resize to 200 x 150.
    TBmpHdr small = Pattern(200, 150, 3.0f);
    image.Assign(&small);
    changes = 0;
    EXPECT_FALSE(item->KeepsSize());
    const TColorHdr* savedRow = item->Saved()->Pixels[0].data();
    const TColorHdr* liveRow = image.Pixels[0].data();

    item->Undo();
    EXPECT_TRUE(SameBits(image, before));
    EXPECT_FALSE(item->KeepsSize());
    EXPECT_TRUE(SameBits(*item->Saved(), small));
    EXPECT_EQ(changes, 1);  // holders of the image hear of the size change
    // No pixel was copied: the rows changed owners.
    EXPECT_EQ(image.Pixels[0].data(), savedRow);
    EXPECT_EQ(item->Saved()->Pixels[0].data(), liveRow);

    item->Redo();
    EXPECT_TRUE(SameBits(image, small));
    EXPECT_EQ(changes, 2);
    EXPECT_EQ(item->GetMemorySize(), 400 * 300 * 16);  // the record holds the state before
}

TEST(TUndoHdrItem, WholeImageRestoreUndoesASizeChangeAndCanRepeat)
{
    TBmpHdr image = Pattern(40, 30, 0.75f);
    const TBmpHdr before = Copy(image);
    auto item = TUndoHdrItem::CreateWhole(&image);
    image.SetSize(10, 50, GrayHdr(0.5f, 1.0f));  // a preview that changed the size
    item->Restore();
    EXPECT_TRUE(SameBits(image, before));
    Scribble(image, MaxRectHdr);
    item->Restore();
    EXPECT_TRUE(SameBits(image, before));
    ASSERT_NE(item->Saved(), nullptr);
    EXPECT_TRUE(SameBits(*item->Saved(), before));  // Saved stays
}

TEST(TUndoHdrItem, RegionRestorePutsBackOnlyTheRectangle)
{
    TBmpHdr image = Pattern(16, 16, 1.25f);
    const TBmpHdr before = Copy(image);
    const TRect rect{3, 4, 9, 16};
    auto item = TUndoHdrItem::CreateRegion(&image, rect);
    Scribble(image, MaxRectHdr);  // also outside the record: that part stays changed
    const TBmpHdr scribbled = Copy(image);
    item->Restore();
    for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 16; ++x) {
            const bool inside = x >= 3 && x < 9 && y >= 4;
            const TBmpHdr& expected = inside ? before : scribbled;
            EXPECT_EQ(std::memcmp(&image.Pixels[y][x], &expected.Pixels[y][x], sizeof(TColorHdr)),
                      0)
                << x << "," << y;
        }
}

TEST(TUndoHdrItem, AnEmptyRectangleSavesNothingAndDoesNothing)
{
    TBmpHdr image = Pattern(8, 8, 2.0f);
    const TBmpHdr before = Copy(image);
    auto outside = TUndoHdrItem::CreateRegion(&image, TRect{10, 10, 20, 20});
    auto inverted = TUndoHdrItem::CreateRegion(&image, TRect{5, 5, 2, 7});
    TBmpHdr empty;
    auto whole = TUndoHdrItem::CreateWhole(&empty);
    auto absent = TUndoHdrItem::CreateWhole(nullptr);
    for (TUndoHdrItem* item : {outside.get(), inverted.get(), whole.get(), absent.get()}) {
        EXPECT_TRUE(item->SavedRect().IsEmpty());
        EXPECT_EQ(item->Saved(), nullptr);
        EXPECT_EQ(item->GetMemorySize(), 0);
        item->Undo();
        item->Redo();
        item->Restore();
        item->FadeTo(0.5f);
    }
    EXPECT_TRUE(SameBits(image, before));
    EXPECT_TRUE(empty.IsEmpty());
}

TEST(TUndoHdrItem, FadeToCompositesTheSavedPixelsAsDrawHdrDoes)
{
    TBmpHdr image = Pattern(12, 10, 0.5f);
    for (auto& row : image.Pixels)
        for (TColorHdr& p : row)
            p.A = 0.75f;  // the over operator reads the target's alpha too
    const TRect rect{-2, 3, 7, 8};
    auto item = TUndoHdrItem::CreateRegion(&image, rect);
    Scribble(image, MaxRectHdr);
    const TBmpHdr result = Copy(image);

    for (const float alpha : {0.0f, -1.0f, std::numeric_limits<float>::quiet_NaN()}) {
        item->FadeTo(alpha);
        EXPECT_TRUE(SameBits(image, result)) << alpha;
    }
    for (const float alpha : {0.25f, 0.5f, 0.9f}) {
        image.Assign(&result);
        item->FadeTo(alpha);
        TBmpHdr expected = Copy(result);
        DrawHdr(item->Saved(), MaxRectHdr, &expected, 0, 3, MaxRectHdr, alpha);
        EXPECT_TRUE(SameBits(image, expected)) << alpha;
        for (int y = 0; y < 10; ++y)  // outside SavedRect nothing moved
            for (int x = 0; x < 12; ++x) {
                if (x >= 7 || y < 3 || y >= 8) {
                    EXPECT_EQ(std::memcmp(&image.Pixels[y][x], &result.Pixels[y][x], 16), 0);
                }
            }
    }
    image.Assign(&result);
    item->Restore();
    const TBmpHdr viaRestore = Copy(image);
    for (const float alpha : {1.0f, 2.0f}) {
        image.Assign(&result);
        item->FadeTo(alpha);
        EXPECT_TRUE(SameBits(image, viaRestore)) << alpha;
    }
}

TEST(TUndoHdrItem, WholeImageRecordsIgnoreFade)
{
    TBmpHdr image = Pattern(6, 6, 1.0f);
    auto item = TUndoHdrItem::CreateWhole(&image);
    Scribble(image, MaxRectHdr);
    const TBmpHdr result = Copy(image);
    item->FadeTo(0.5f);
    item->FadeTo(1.0f);
    EXPECT_TRUE(SameBits(image, result));
}

TEST(TUndoList, EightOperationsKeepSevenAndDropTheFirstForGood)
{
    TUndoList list(7);
    std::vector<TUndoItem*> items;
    for (int i = 0; i < 8; ++i) {
        auto item = Plain("op");
        items.push_back(item.get());
        list.Add(std::move(item));
        list.Commit();
        EXPECT_EQ(list.OldestDropped(), i == 7) << i;
    }
    EXPECT_EQ(list.Count(), 7);
    EXPECT_EQ(list.CurrentIndex(), 6);
    EXPECT_EQ(list.Item(0), items[1]);
    EXPECT_EQ(list.CurrentItem(), items[7]);
    for (int i = 0; i < 9; ++i)
        list.Undo();
    EXPECT_EQ(list.CurrentIndex(), -1);
    EXPECT_EQ(list.CurrentItem(), nullptr);
    EXPECT_EQ(list.NextItem(), items[1]);
    EXPECT_TRUE(list.OldestDropped());  // the document stays modified
    list.ResetFlags();
    EXPECT_FALSE(list.OldestDropped());
}

TEST(TUndoList, ANewOperationAfterUndoFreesTheRedoTail)
{
    TUndoList list(7);
    for (int i = 0; i < 4; ++i) {
        list.Add(Plain("op"));
        list.Commit();
    }
    list.Undo();
    list.Undo();
    EXPECT_EQ(list.CurrentIndex(), 1);
    auto fresh = Plain("new");
    TUndoItem* freshPtr = fresh.get();
    list.Add(std::move(fresh));
    list.Commit();
    EXPECT_EQ(list.Count(), 3);
    EXPECT_EQ(list.CurrentItem(), freshPtr);
    EXPECT_EQ(list.NextItem(), nullptr);
    list.Redo();  // nothing to redo
    EXPECT_EQ(list.CurrentIndex(), 2);
}

TEST(TUndoList, CancellingAnOpenedRecordGivesTheHistoryBack)
{
    // Full list: the oldest record comes back.
    TUndoList full(7);
    std::vector<TUndoItem*> items;
    for (int i = 0; i < 7; ++i) {
        auto item = Plain("op");
        items.push_back(item.get());
        full.Add(std::move(item));
    }
    full.Commit();
    full.Add(Plain("dialog"));
    EXPECT_TRUE(full.HasPending());
    EXPECT_EQ(full.Count(), 7);
    EXPECT_TRUE(full.OldestDropped());
    full.DeleteLast();
    EXPECT_FALSE(full.HasPending());
    EXPECT_EQ(full.Count(), 7);
    EXPECT_FALSE(full.OldestDropped());
    EXPECT_EQ(full.CurrentIndex(), 6);
    for (int i = 0; i < 7; ++i)
        EXPECT_EQ(full.Item(i), items[i]) << i;

    // Undone records: the redo tail comes back and can still be redone.
    TBmpHdr image = Pattern(10, 10, 0.5f);
    TUndoList list(7);
    std::vector<TBmpHdr> states;
    for (int i = 0; i < 3; ++i) {
        states.push_back(Copy(image));
        list.Add(TUndoHdrItem::CreateRegion(&image, TRect{i, 0, i + 5, 8}));
        list.Commit();
        Scribble(image, TRect{i, 0, i + 5, 8});
    }
    states.push_back(Copy(image));
    list.Undo();
    list.Undo();
    EXPECT_TRUE(SameBits(image, states[1]));
    const std::int64_t memory = list.GetMemorySize();
    list.Add(TUndoHdrItem::CreateRegion(&image, MaxRectHdr));
    EXPECT_EQ(list.Count(), 2);
    EXPECT_EQ(list.GetMemorySize(), memory + 10 * 10 * 16);     // the tail is still held
    Scribble(image, MaxRectHdr);                                // the preview ...
    static_cast<TUndoHdrItem*>(list.CurrentItem())->Restore();  // ... is taken back: Cancel
    list.DeleteLast();
    EXPECT_EQ(list.Count(), 3);
    EXPECT_EQ(list.CurrentIndex(), 0);
    EXPECT_EQ(list.GetMemorySize(), memory);
    list.Redo();
    EXPECT_TRUE(SameBits(image, states[2]));
    list.Redo();
    EXPECT_TRUE(SameBits(image, states[3]));
}

TEST(TUndoList, CommittingFreesWhatAddSetAside)
{
    TBmpHdr image = Pattern(10, 10, 0.5f);
    TUndoList list(2);
    list.Add(TUndoHdrItem::CreateRegion(&image, TRect{0, 0, 2, 2}));  // 64 bytes
    list.Add(TUndoHdrItem::CreateRegion(&image, TRect{0, 0, 3, 3}));  // 144 bytes
    list.Add(TUndoHdrItem::CreateRegion(&image, TRect{0, 0, 4, 4}));  // 256, drops the first
    EXPECT_EQ(list.GetMemorySize(), 64 + 144 + 256);
    list.Commit();
    EXPECT_EQ(list.GetMemorySize(), 144 + 256);
    EXPECT_FALSE(list.HasPending());
    // Any other change of the list commits as well: a later DeleteLast is a plain delete.
    list.Add(TUndoHdrItem::CreateRegion(&image, TRect{0, 0, 1, 1}));  // 16, drops 144
    list.Undo();
    list.DeleteLast();
    EXPECT_EQ(list.Count(), 1);
    EXPECT_EQ(list.CurrentIndex(), 0);
    EXPECT_EQ(list.GetMemorySize(), 256);
}

TEST(TUndoList, UndoAndRedoWalkTheRecordsInOrder)
{
    TBmpHdr image = Pattern(30, 20, 0.5f);
    TUndoList list(7);
    std::vector<TBmpHdr> states;
    states.push_back(Copy(image));
    // Region and whole-image records mixed, with size changes.
    list.Add(TUndoHdrItem::CreateRegion(&image, TRect{5, 5, 25, 15}));
    Scribble(image, TRect{5, 5, 25, 15});
    states.push_back(Copy(image));
    list.Add(TUndoHdrItem::CreateWhole(&image));
    TBmpHdr resized = Pattern(13, 41, 4.0f);
    image.Assign(&resized);
    states.push_back(Copy(image));
    list.Add(TUndoHdrItem::CreateRegion(&image, TRect{0, 30, 13, 41}));
    Scribble(image, TRect{0, 30, 13, 41});
    states.push_back(Copy(image));
    list.Commit();

    for (int i = 3; i > 0; --i) {
        list.Undo();
        EXPECT_TRUE(SameBits(image, states[static_cast<std::size_t>(i - 1)])) << i;
    }
    list.Undo();  // nothing left
    EXPECT_TRUE(SameBits(image, states[0]));
    for (int i = 1; i <= 3; ++i) {
        list.Redo();
        EXPECT_TRUE(SameBits(image, states[static_cast<std::size_t>(i)])) << i;
    }
    list.Redo();
    EXPECT_TRUE(SameBits(image, states[3]));
    // Memory: 20 x 10 + 30 x 20 + 13 x 11 pixels of 16 bytes.
    EXPECT_EQ(list.GetMemorySize(), (200 + 600 + 143) * 16);
}

TEST(TUndoList, DeleteKeepsTheCurrentIndexInsideTheList)
{
    TUndoList list(7);
    std::vector<TUndoItem*> items;
    for (int i = 0; i < 5; ++i) {
        auto item = Plain("op");
        items.push_back(item.get());
        list.Add(std::move(item));
    }
    list.Undo();  // current: index 3
    list.Delete(-1);
    list.Delete(5);
    EXPECT_EQ(list.Count(), 5);
    list.Delete(0);  // before the current record: it moves down with it
    EXPECT_EQ(list.CurrentItem(), items[3]);
    list.Delete(list.CurrentIndex());  // the current record: the one before becomes current
    EXPECT_EQ(list.CurrentItem(), items[2]);
    EXPECT_EQ(list.NextItem(), items[4]);
    list.Delete(list.Count() - 1);
    EXPECT_EQ(list.CurrentItem(), items[2]);
    EXPECT_EQ(list.PreviousItem(), items[1]);
    list.DeleteRedo();
    EXPECT_EQ(list.Count(), 2);
    list.DeleteLast();
    EXPECT_EQ(list.CurrentItem(), items[1]);
    EXPECT_EQ(list.PreviousItem(), nullptr);
}

TEST(TUndoList, ClearEmptiesAndAnEmptyListKeepsItsFlags)
{
    TUndoList list(1);
    list.Add(Plain("a"));
    list.Add(Plain("b"));
    list.Commit();
    EXPECT_TRUE(list.OldestDropped());
    list.SetModifiedBeforeClear(1);
    list.Clear();
    EXPECT_EQ(list.Count(), 0);
    EXPECT_EQ(list.CurrentIndex(), -1);
    EXPECT_FALSE(list.OldestDropped());
    EXPECT_EQ(list.ModifiedBeforeClear(), 1);

    TUndoList drops(1);
    drops.Add(Plain("a"));
    drops.Add(Plain("b"));
    drops.Undo();
    drops.DeleteRedo();
    EXPECT_EQ(drops.Count(), 0);
    drops.Clear();  // already empty: the flag survives
    EXPECT_TRUE(drops.OldestDropped());

    TUndoList none(0);  // a capacity below 1 still keeps the newest record
    EXPECT_EQ(none.MaxCount(), 1);
    none.Add(Plain("a"));
    none.Add(nullptr);
    EXPECT_EQ(none.Count(), 1);
}

}  // namespace
}  // namespace lumivex
