#pragma once

// The edit history of a document. Undo and redo are the same act: a record's saved pixels and
// the live ones change places, so an undone record holds the state after its operation and is
// redone by exchanging again. The history is bounded by a count of records, not by memory.

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "core/BmpHdr.h"

namespace lumivex {

/// A history record without pixels: serial number, caption and ten integers for the caller.
class TUndoItem {
public:
    /// Takes the next serial number of the process (the first record of a run gets 1).
    TUndoItem();
    virtual ~TUndoItem() = default;
    TUndoItem(const TUndoItem&) = delete;
    TUndoItem& operator=(const TUndoItem&) = delete;

    static constexpr int TagCount = 10;

    std::int32_t Id() const { return m_id; }
    /// The operation's name as shown after "Undo", "Redo" and "Fade".
    std::string Caption;

    /// 0 for an index outside 0..9.
    std::int32_t GetTag(int index) const;
    /// An index outside 0..9 is ignored.
    void SetTag(int index, std::int32_t value);

    virtual void Undo() {}
    virtual void Redo() {}
    /// Bytes of pixel data the record holds.
    virtual std::int64_t GetMemorySize() const { return 0; }

private:
    std::int32_t m_id;
    std::array<std::int32_t, TagCount> m_tags{};
};

/// A record that saves pixels of the live image: a rectangle of it, or the whole image with its
/// size.
class TUndoHdrItem : public TUndoItem {
    struct TKey {
        explicit TKey() = default;
    };

public:
    /// Use CreateWhole or CreateRegion, which also save the pixels.
    TUndoHdrItem(TKey, TBmpHdr* image, TRect rect, bool isRegion);

    /// Saves the whole image (the operation may change its size).
    static std::unique_ptr<TUndoHdrItem> CreateWhole(TBmpHdr* image);
    /// Saves rect clipped to the image; an empty result saves nothing.
    static std::unique_ptr<TUndoHdrItem> CreateRegion(TBmpHdr* image, TRect rect);

    void Undo() override;
    void Redo() override;
    std::int64_t GetMemorySize() const override;
    /// True when undoing or redoing now leaves the image size as it is.
    virtual bool KeepsSize() const;

    const TRect& SavedRect() const { return m_savedRect; }
    bool IsRegion() const { return m_isRegion; }
    TBmpHdr* Image() const { return m_image; }
    /// Null when nothing was saved.
    const TBmpHdr* Saved() const { return m_saved.get(); }

    /// Copies the pixels of SavedRect into Saved.
    void SaveState();
    /// Saved and live pixels change places; for a whole-image record the size goes with them.
    void Exchange();
    /// Puts the saved pixels back without swapping (taking back a preview); Saved stays.
    void Restore();
    /// Composites Saved over the image with opacity alpha (region records only); alpha <= 0 or
    /// NaN changes nothing, alpha >= 1 restores.
    void FadeTo(float alpha);

private:
    TRect m_savedRect;
    bool m_isRegion;
    TBmpHdr* m_image;  // the live document image; not owned
    std::unique_ptr<TBmpHdr> m_saved;
};

/// The records of one document, oldest first; the record at CurrentIndex is the last one done.
class TUndoList {
public:
    /// A capacity below 1 counts as 1. The document's list holds 7.
    explicit TUndoList(std::int32_t maxCount);
    ~TUndoList();
    TUndoList(const TUndoList&) = delete;
    TUndoList& operator=(const TUndoList&) = delete;

    /// Appends a record and makes it current. The redo tail, and the oldest record when the list
    /// is full, leave the history but are kept aside until the next change of the list
    /// (Commit): DeleteLast, called when the operation is cancelled, puts them back.
    void Add(std::unique_ptr<TUndoItem> item);
    /// The newest record's operation was kept: the records Add set aside are freed.
    void Commit();
    /// True while Add holds records aside for a cancel.
    bool HasPending() const { return m_pending.Active; }

    void Undo();
    void Redo();

    std::int32_t Count() const { return static_cast<std::int32_t>(m_items.size()); }
    std::int32_t MaxCount() const { return m_maxCount; }
    std::int32_t CurrentIndex() const { return m_currentIndex; }
    /// Null for an index outside 0..Count - 1.
    TUndoItem* Item(std::int32_t index) const;
    TUndoItem* CurrentItem() const { return Item(m_currentIndex); }
    /// The record Redo would act on.
    TUndoItem* NextItem() const { return Item(m_currentIndex + 1); }
    /// The record done before the current one (null when CurrentIndex < 1).
    TUndoItem* PreviousItem() const
    {
        return m_currentIndex < 1 ? nullptr : Item(m_currentIndex - 1);
    }

    /// An index outside 0..Count - 1 is ignored. CurrentIndex moves with the records after it,
    /// and back by one when the current record itself goes.
    void Delete(std::int32_t index);
    /// Deletes the newest record; when Add set records aside for it, they come back and the list
    /// is as it was before that Add.
    void DeleteLast();
    void DeleteRedo();
    /// Deletes every record; an empty list stays as it is, flags included.
    void Clear();
    void ResetFlags();

    bool OldestDropped() const { return m_oldestDropped; }
    std::int32_t ModifiedBeforeClear() const { return m_modifiedBeforeClear; }
    void SetModifiedBeforeClear(std::int32_t value) { m_modifiedBeforeClear = value; }

    /// Bytes of pixel data of every record, those set aside for a cancel included.
    std::int64_t GetMemorySize() const;

private:
    // What one Add took out of the history, until its record is committed or cancelled.
    struct TPending {
        bool Active = false;
        std::unique_ptr<TUndoItem> Oldest;
        std::vector<std::unique_ptr<TUndoItem>> RedoTail;
        std::int32_t CurrentIndex = -1;
        bool OldestDropped = false;
    };

    std::vector<std::unique_ptr<TUndoItem>> m_items;
    std::int32_t m_maxCount;
    std::int32_t m_currentIndex = -1;
    bool m_oldestDropped = false;
    std::int32_t m_modifiedBeforeClear = 0;
    TPending m_pending;
};

}  // namespace lumivex
