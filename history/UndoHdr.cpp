#include "history/UndoHdr.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <iterator>
#include <utility>

namespace lumivex {
namespace {

// Serial numbers are process-wide, so they are never reused, also across documents.
std::atomic<std::int32_t> LastUndoId{0};

}  // namespace

// ---------------------------------------------------------------------------------------------
// TUndoItem

TUndoItem::TUndoItem() : m_id(LastUndoId.fetch_add(1) + 1) {}

std::int32_t TUndoItem::GetTag(int index) const
{
    if (index < 0 || index >= TagCount)
        return 0;
    return m_tags[static_cast<std::size_t>(index)];
}

void TUndoItem::SetTag(int index, std::int32_t value)
{
    if (index < 0 || index >= TagCount)
        return;
    m_tags[static_cast<std::size_t>(index)] = value;
}

// ---------------------------------------------------------------------------------------------
// TUndoHdrItem

TUndoHdrItem::TUndoHdrItem(TKey, TBmpHdr* image, TRect rect, bool isRegion)
    : m_savedRect(image != nullptr ? IntersectRect(rect, image->GetBounds()) : TRect{}),
      m_isRegion(isRegion),
      m_image(image)
{
}

std::unique_ptr<TUndoHdrItem> TUndoHdrItem::CreateWhole(TBmpHdr* image)
{
    auto item = std::make_unique<TUndoHdrItem>(
        TKey{}, image, image != nullptr ? image->GetBounds() : TRect{}, false);
    item->SaveState();
    return item;
}

std::unique_ptr<TUndoHdrItem> TUndoHdrItem::CreateRegion(TBmpHdr* image, TRect rect)
{
    auto item = std::make_unique<TUndoHdrItem>(TKey{}, image, rect, true);
    item->SaveState();
    return item;
}

void TUndoHdrItem::Undo()
{
    Exchange();
    TUndoItem::Undo();
}

void TUndoHdrItem::Redo()
{
    Exchange();
    TUndoItem::Redo();
}

std::int64_t TUndoHdrItem::GetMemorySize() const
{
    return TUndoItem::GetMemorySize() + (m_saved ? m_saved->GetDataSize() : 0);
}

bool TUndoHdrItem::KeepsSize() const
{
    if (m_isRegion)
        return true;
    return m_saved && m_image != nullptr && m_saved->Width() == m_image->Width() &&
           m_saved->Height() == m_image->Height();
}

void TUndoHdrItem::SaveState()
{
    if (m_savedRect.IsEmpty() || m_image == nullptr)
        return;
    if (!m_saved)
        m_saved = std::make_unique<TBmpHdr>();
    if (m_saved->Width() != m_savedRect.Width() || m_saved->Height() != m_savedRect.Height()) {
        m_saved->Clear();
        m_saved->SetSize(m_savedRect.Width(), m_savedRect.Height(), clNoneHdr);
    }
    CopyRectHdr(m_image, m_savedRect, m_saved.get(), 0, 0, MaxRectHdr);
}

void TUndoHdrItem::Exchange()
{
    if (m_savedRect.IsEmpty() || !m_saved || m_image == nullptr)
        return;
    if (m_isRegion)
        ExchangeRectHdr(m_saved.get(), m_saved->GetBounds(), m_image, m_savedRect.Left,
                        m_savedRect.Top);
    else
        m_image->Exchange(*m_saved);  // rows and size change owners; the image object stays
}

void TUndoHdrItem::Restore()
{
    if (m_savedRect.IsEmpty() || !m_saved || m_image == nullptr)
        return;
    if (m_isRegion)
        CopyRectHdr(m_saved.get(), MaxRectHdr, m_image, m_savedRect.Left, m_savedRect.Top,
                    MaxRectHdr);
    else
        m_image->Assign(m_saved.get());  // the size comes back too
}

void TUndoHdrItem::FadeTo(float alpha)
{
    if (!m_isRegion || m_savedRect.IsEmpty() || !m_saved || m_image == nullptr)
        return;
    if (!(alpha > 0.0f))
        return;
    if (alpha >= 1.0f) {
        Restore();
        return;
    }
    DrawHdr(m_saved.get(), MaxRectHdr, m_image, m_savedRect.Left, m_savedRect.Top, MaxRectHdr,
            alpha);
}

// ---------------------------------------------------------------------------------------------
// TUndoList

TUndoList::TUndoList(std::int32_t maxCount) : m_maxCount(std::max<std::int32_t>(maxCount, 1)) {}

TUndoList::~TUndoList() { Clear(); }

void TUndoList::Add(std::unique_ptr<TUndoItem> item)
{
    if (!item)
        return;
    Commit();
    TPending pending;
    pending.CurrentIndex = m_currentIndex;
    pending.OldestDropped = m_oldestDropped;
    // The redo tail leaves the history, newest last, but is kept for a cancel.
    const auto tail = m_items.begin() + (m_currentIndex + 1);
    pending.RedoTail.assign(std::make_move_iterator(tail), std::make_move_iterator(m_items.end()));
    m_items.erase(tail, m_items.end());
    if (Count() >= m_maxCount) {
        pending.Oldest = std::move(m_items.front());
        m_items.erase(m_items.begin());
        m_oldestDropped = true;
    }
    m_items.push_back(std::move(item));
    m_currentIndex = Count() - 1;
    pending.Active = true;
    m_pending = std::move(pending);
}

void TUndoList::Commit()
{
    if (!m_pending.Active)
        return;
    TPending done = std::move(m_pending);
    m_pending = TPending{};
    // Freed from the newest backwards, as DeleteRedo frees.
    while (!done.RedoTail.empty())
        done.RedoTail.pop_back();
}

void TUndoList::Undo()
{
    Commit();
    if (m_currentIndex > -1) {
        CurrentItem()->Undo();
        --m_currentIndex;
    }
}

void TUndoList::Redo()
{
    Commit();
    if (m_currentIndex < Count() - 1) {
        ++m_currentIndex;
        CurrentItem()->Redo();
    }
}

TUndoItem* TUndoList::Item(std::int32_t index) const
{
    if (index < 0 || index >= Count())
        return nullptr;
    return m_items[static_cast<std::size_t>(index)].get();
}

void TUndoList::Delete(std::int32_t index)
{
    Commit();
    if (index < 0 || index >= Count())
        return;
    m_items.erase(m_items.begin() + index);
    // Keeps -1 <= CurrentIndex <= Count - 1 and the done records done.
    if (index <= m_currentIndex)
        --m_currentIndex;
}

void TUndoList::DeleteLast()
{
    if (m_items.empty())
        return;
    if (!m_pending.Active) {
        m_items.pop_back();
        m_currentIndex = Count() - 1;
        return;
    }
    // Cancel of the operation Add opened the record for: the history as it was before.
    TPending pending = std::move(m_pending);
    m_pending = TPending{};
    m_items.pop_back();
    if (pending.Oldest)
        m_items.insert(m_items.begin(), std::move(pending.Oldest));
    for (auto& item : pending.RedoTail)
        m_items.push_back(std::move(item));
    m_currentIndex = pending.CurrentIndex;
    m_oldestDropped = pending.OldestDropped;
}

void TUndoList::DeleteRedo()
{
    Commit();
    while (Count() - 1 > m_currentIndex)
        m_items.pop_back();
}

void TUndoList::Clear()
{
    Commit();
    if (m_items.empty())
        return;
    while (!m_items.empty())
        m_items.pop_back();
    m_currentIndex = -1;
    m_oldestDropped = false;
}

void TUndoList::ResetFlags()
{
    m_oldestDropped = false;
    // A cancel after a save must not bring back the flag the save cleared.
    m_pending.OldestDropped = false;
}

std::int64_t TUndoList::GetMemorySize() const
{
    std::int64_t total = 0;
    for (const auto& item : m_items)
        total += item->GetMemorySize();
    if (m_pending.Oldest)
        total += m_pending.Oldest->GetMemorySize();
    for (const auto& item : m_pending.RedoTail)
        total += item->GetMemorySize();
    return total;
}

}  // namespace lumivex
