#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "OperationSequence.h"
#include "TestImages.h"
#include "history/UndoHdr.h"

namespace lumivex {
namespace {

using test::SameBits;
using test::TOperationDrawer;

constexpr std::uint32_t Seed = 20240612;
constexpr int Depth = 7;  // the document's history

struct TRun {
    std::vector<std::string> Words;
    std::vector<TBmpHdr> After;  // the image after each operation
};

// Runs `count` random operations, each after the record the editor would open for it.
TRun RunSequence(TBmpHdr& image, TUndoList& history, TOperationDrawer& drawer, int count)
{
    TRun run;
    for (int i = 0; i < count; ++i) {
        const TOperation op = drawer.Draw(image);
        run.Words.push_back(TOperationDrawer::Word(op));
        history.Add(test::OpenRecord(image, op));
        history.Commit();
        op.Def->Run(image, op.Args);
        run.After.emplace_back();
        run.After.back().Assign(&image);
    }
    return run;
}

std::string Describe(const TRun& run)
{
    std::string text;
    for (const std::string& w : run.Words)
        text += "\n    " + w;
    return text;
}

TEST(UndoListProperty, UndoingEverySequenceGivesBackTheOriginalAndRedoTheResult)
{
    const TBmpHdr sources[] = {
        test::RealCrop("hdr/courtyard_256x128_float_zip.exr", 70, 30, 48, 40),  // negative, > 1
        test::RealCrop("ldr/png_rgba8_partial_alpha_256x128.png", 100, 50, 37, 29),
    };
    TOperationDrawer drawer(Seed);
    for (int sequence = 0; sequence < 40; ++sequence) {
        const TBmpHdr& source = sources[sequence % 2];
        TBmpHdr image;
        image.Assign(&source);
        TUndoList history(Depth);
        const int count = drawer.Pick(1, Depth);
        const TRun run = RunSequence(image, history, drawer, count);
        SCOPED_TRACE("seed " + std::to_string(Seed) + ", sequence " + std::to_string(sequence) +
                     Describe(run));
        for (int i = count - 1; i >= 0; --i) {
            ASSERT_TRUE(SameBits(image, run.After[static_cast<std::size_t>(i)])) << "undo " << i;
            history.Undo();
        }
        ASSERT_TRUE(SameBits(image, source)) << "after undoing all";
        EXPECT_EQ(history.CurrentIndex(), -1);
        for (int i = 0; i < count; ++i) {
            history.Redo();
            ASSERT_TRUE(SameBits(image, run.After[static_cast<std::size_t>(i)])) << "redo " << i;
        }
        EXPECT_FALSE(history.OldestDropped());
    }
}

TEST(UndoListProperty, LongerSequencesKeepTheNewestSevenUndoable)
{
    const TBmpHdr source = test::RealCrop("ldr/png_rgb8_257x129.png", 120, 60, 41, 33);
    TOperationDrawer drawer(Seed + 1);
    for (int sequence = 0; sequence < 8; ++sequence) {
        TBmpHdr image;
        image.Assign(&source);
        TUndoList history(Depth);
        const int count = drawer.Pick(Depth + 1, 2 * Depth + 1);
        const TRun run = RunSequence(image, history, drawer, count);
        SCOPED_TRACE("seed " + std::to_string(Seed + 1) + ", sequence " + std::to_string(sequence) +
                     Describe(run));
        EXPECT_EQ(history.Count(), Depth);
        EXPECT_TRUE(history.OldestDropped());
        for (int i = 0; i < Depth + 2; ++i)
            history.Undo();  // the last two find nothing left to undo
        // Back to the state before the oldest kept operation, that is after operation count-8.
        ASSERT_TRUE(SameBits(image, run.After[static_cast<std::size_t>(count - Depth - 1)]));
        for (int i = 0; i < Depth; ++i)
            history.Redo();
        ASSERT_TRUE(SameBits(image, run.After.back()));
        // A new operation after two undos drops the redo tail and keeps the history going.
        history.Undo();
        history.Undo();
        const TRun more = RunSequence(image, history, drawer, 1);
        EXPECT_EQ(history.NextItem(), nullptr);
        history.Undo();
        ASSERT_TRUE(SameBits(image, run.After[static_cast<std::size_t>(count - 3)]));
    }
}

}  // namespace
}  // namespace lumivex
