#include "history/UndoCommands.h"

#include <cmath>
#include <memory>

#include "app/GlbStrings.h"
#include "app/Labels.h"
#include "history/UndoHdr.h"
#include "io/ImageLib.h"
#include "view/HdrScroll.h"

namespace lumivex {
namespace {

struct TRepeatStore {
    std::string Caption;
    std::function<void()> Command;
    std::int32_t Blocking = 0;
    std::uint32_t Serial = 0;  // the document the command was stored for
};

TRepeatStore& Repeat()
{
    static TRepeatStore store;
    return store;
}

// Closes the busy bracket also when the body throws.
class TWaitScope {
public:
    TWaitScope()
    {
        if (HistoryHooks().BeginWait)
            HistoryHooks().BeginWait();
    }
    ~TWaitScope()
    {
        if (HistoryHooks().EndWait)
            HistoryHooks().EndWait();
    }
    TWaitScope(const TWaitScope&) = delete;
    TWaitScope& operator=(const TWaitScope&) = delete;
};

void Toolbar(int mask)
{
    if (HistoryHooks().UpdateToolbar)
        HistoryHooks().UpdateToolbar(mask);
}

std::int32_t DpiTag(float dpi)
{
    return static_cast<std::int32_t>(std::nearbyint(static_cast<double>(SaneDpi(dpi)) * 1000.0));
}

std::string WithCaption(const char* word, const TUndoItem* item, bool enabled)
{
    if (!enabled || !item)
        return word;
    return std::string(word) + " " + item->Caption;
}

bool KeepsSize(const TUndoItem* item)
{
    const auto* hdr = dynamic_cast<const TUndoHdrItem*>(item);
    return !hdr || hdr->KeepsSize();
}

}  // namespace

THistoryHooks& HistoryHooks()
{
    static THistoryHooks hooks;
    return hooks;
}

void BeginUndo(std::uint8_t mode, const std::string& caption)
{
    if (!IsDocumentOpen())
        return;
    TWaitScope wait;
    TBmpHdr* image = GetImage();
    std::unique_ptr<TUndoItem> item;
    switch (mode) {
        case umWholeImage:
            item = TUndoHdrItem::CreateWhole(image);
            break;
        case umFadable:
        case umRegion:
            item = TUndoHdrItem::CreateRegion(image, GetWorkRect());
            break;
        default:
            item = TUndoHdrItem::CreateRegion(image, TRect{});
            break;
    }
    item->Caption = CleanCaption(caption);
    TUndoItem* record = item.get();
    GetUndoList()->Add(std::move(item));
    const TScrollBoxHdr* view = GetView();
    record->SetTag(TagMode, mode);
    record->SetTag(TagKind, static_cast<std::int32_t>(GetDocumentKind()));
    record->SetTag(TagDpi, DpiTag(view->DpiX()));
    record->SetTag(TagTransparent, view->Transparent() ? 1 : 0);
    record->SetTag(TagFade, mode == umFadable ? 100 : -1);
    Toolbar(1);
}

bool CanUndo() { return GetUndoList() && GetUndoList()->CurrentItem(); }
bool CanRedo() { return GetUndoList() && GetUndoList()->NextItem(); }
bool HasUndo() { return GetUndoList() && GetUndoList()->Count() > 0; }

bool CanFade() { return CanUndo() && GetUndoList()->CurrentItem()->GetTag(TagFade) != -1; }

std::int32_t GetFadeValue()
{
    return CanFade() ? GetUndoList()->CurrentItem()->GetTag(TagFade) : -1;
}

bool CanRepeat()
{
    const TRepeatStore& r = Repeat();
    return r.Command && r.Blocking == 0 && IsDocumentOpen() && r.Serial == DocumentSerial();
}

std::string UndoCaption()
{
    return WithCaption(SUndo, CanUndo() ? GetUndoList()->CurrentItem() : nullptr, CanUndo());
}

std::string RedoCaption()
{
    return WithCaption(SRedo, CanRedo() ? GetUndoList()->NextItem() : nullptr, CanRedo());
}

std::string FadeCaption()
{
    if (!CanFade())
        return SFade;
    return std::string(SFade) + " " + GetUndoList()->CurrentItem()->Caption + "...";
}

std::string RepeatCaption()
{
    return CanRepeat() ? std::string(SRepeat) + " " + Repeat().Caption : std::string(SRepeat);
}

void RestoreCurrent(bool invalidate)
{
    TUndoList* list = GetUndoList();
    if (auto* item = list ? dynamic_cast<TUndoHdrItem*>(list->CurrentItem()) : nullptr)
        item->Restore();
    if (invalidate)
        RefreshView(false);
}

void CancelLastUndo(bool restore)
{
    TUndoList* list = GetUndoList();
    if (!list)
        return;
    std::unique_ptr<TWaitScope> wait;
    if (restore) {
        wait = std::make_unique<TWaitScope>();
        RestoreCurrent(true);
    }
    list->DeleteLast();
    ClearRepeat();
    Toolbar(1);
    if (restore && HistoryHooks().UpdateSidePanel)
        HistoryHooks().UpdateSidePanel(2);
}

void SwapViewState(TUndoItem& item)
{
    TScrollBoxHdr* view = GetView();
    if (!view)
        return;
    const auto kind = GetDocumentKind();
    const std::int32_t storedKind = item.GetTag(TagKind);
    SetDocumentKind(storedKind >= 0 && storedKind <= 2 ? static_cast<TImageKind>(storedKind)
                                                       : TImageKind::ikStandard);
    item.SetTag(TagKind, static_cast<std::int32_t>(kind));

    const std::int32_t dpi = DpiTag(view->DpiX());
    // The vertical resolution follows: the records keep one, and the writer uses both.
    const float restored = SaneDpi(static_cast<float>(item.GetTag(TagDpi)) / 1000.0f);
    view->SetDpiX(restored);
    view->SetDpiY(restored);
    item.SetTag(TagDpi, dpi);

    const bool transparent = view->Transparent();
    view->SetTransparent(item.GetTag(TagTransparent) > 0);
    item.SetTag(TagTransparent, transparent ? 1 : 0);
}

TUndoStep UndoDocument()
{
    TUndoStep step;
    if (!CanUndo())
        return step;
    TWaitScope wait;
    TUndoList& list = *GetUndoList();
    TUndoItem& item = *list.CurrentItem();
    step.Mode = static_cast<std::uint8_t>(item.GetTag(TagMode));
    step.SizeChanged = !KeepsSize(&item);
    SwapViewState(item);
    list.Undo();
    step.Done = true;
    Toolbar(1);
    return step;
}

TUndoStep RedoDocument()
{
    TUndoStep step;
    if (!CanRedo())
        return step;
    TWaitScope wait;
    TUndoList& list = *GetUndoList();
    TUndoItem& item = *list.NextItem();
    step.Mode = static_cast<std::uint8_t>(item.GetTag(TagMode));
    step.SizeChanged = !KeepsSize(&item);
    list.Redo();
    SwapViewState(*list.CurrentItem());
    step.Done = true;
    Toolbar(1);
    return step;
}

void ClearUndoHistories()
{
    TUndoList* list = GetUndoList();
    if (!list)
        return;
    list->SetModifiedBeforeClear(list->ModifiedBeforeClear() | (IsDocumentModified() ? 1 : 0));
    list->Clear();
    Toolbar(1);
}

void SetRepeat(const std::string& caption, std::int32_t blocking, std::function<void()> command)
{
    TRepeatStore& r = Repeat();
    if (!caption.empty())
        r.Caption = CleanCaption(caption);
    else if (CanUndo())
        r.Caption = GetUndoList()->CurrentItem()->Caption;
    r.Command = std::move(command);
    r.Blocking = blocking;
    r.Serial = DocumentSerial();
}

void ClearRepeat() { Repeat().Command = nullptr; }

void RunRepeat()
{
    if (!CanRepeat())
        return;
    // A copy: the command registers itself again while it runs.
    const std::function<void()> command = Repeat().Command;
    command();
}

}  // namespace lumivex
