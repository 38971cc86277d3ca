#include "io/ImageLib.h"

#include <QApplication>
#include <QFileDialog>
#include <QLayout>
#include <QLineEdit>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <cmath>
#include <memory>
#include <new>

#include "app/GlbStrings.h"
#include "app/MyMsgDlg.h"
#include "dialogs/DlgEx.h"
#include "history/UndoHdr.h"
#include "io/FileStatus.h"
#include "io/ImageFile.h"
#include "io/IsolatedLoad.h"
#include "merge/MergeHdr.h"
#include "view/HdrScroll.h"

namespace lumivex {
namespace {

struct TImageDocument {
    QPointer<TScrollBoxHdr> View;  // parent-owned widget; the document deletes it on close
    std::unique_ptr<TUndoList> UndoList;
    TRect WorkRect;
    std::string FileName;
    bool HasFile = false;
    std::int32_t SavedUndoId = -1;
    TImageKind Kind = TImageKind::ikStandard;
};

TImageDocument Document;
TImageDocument* Current = nullptr;
std::int32_t FileError = 0;
std::uint32_t Serial = 0;

QString Q(const std::string& s) { return QString::fromStdString(s); }

void ShowError(const char* format, const std::string& fileName)
{
    MessageBox(QString::asprintf(format, fileName.c_str()), TMsgKind::mkError, MbOk);
}

// Resets the record; the view goes with its image.
void DestroyDocument()
{
    Current = nullptr;
    delete Document.View.data();
    Document.View = nullptr;
    Document.UndoList.reset();
    Document.WorkRect = TRect{};
    Document.FileName.clear();
    Document.HasFile = false;
    Document.SavedUndoId = -1;
    Document.Kind = TImageKind::ikStandard;
}

TScrollBoxHdr* NewView(QWidget* parent, TBmpHdr image)
{
    auto* view = new TScrollBoxHdr(parent, std::move(image));
    view->setObjectName(QStringLiteral("View"));
    if (parent && parent->layout())
        parent->layout()->addWidget(view);
    // Every size change (turns, resize, their undo and redo) moves the work rectangle along, so
    // that later operations cover the whole image again.
    TBmpHdr& shown = view->Image();
    shown.OnChange = [viewHook = shown.OnChange](TBmpHdr& sender) {
        if (viewHook)
            viewHook(sender);
        if (Current)
            Current->WorkRect = sender.GetBounds();
    };
    return view;
}

// The common tail of CreateDocument and NewMergedDocument.
void AdoptDocument(TScrollBoxHdr* view, const std::string& fileName, bool hasFile, TImageKind kind)
{
    Document.View = view;
    if (QWidget* parent = view->parentWidget(); parent && parent->isVisible())
        view->show();
    view->ZoomToFit(true);
    Document.UndoList = std::make_unique<TUndoList>(DocumentUndoDepth);
    Document.WorkRect = view->Image().GetBounds();
    Document.FileName = fileName;
    Document.HasFile = hasFile;
    Document.SavedUndoId = -1;
    Document.Kind = kind;
    Current = &Document;
    ++Serial;
}

bool OpenWith(TLoadPath path, std::string& fileName, QWidget* parent)
{
    FileError = 0;
    if (fileName.empty()) {
        OpenImageDialog({}, nullptr, fileName);
        if (fileName.empty())
            return false;
    }
    FileError = -1;
    try {
        TBmpHdr image;
        TImageInfo info;
        if (!LoadImageFile(fileName, &image, info, path))
            return false;
        if (path == TLoadPath::lpPlatform) {
            info.Transparent = false;
            info.Kind = TImageKind::ikStandard;
            info.DpiX = info.DpiY = 72.0f;
        }
        FileError = 0;
        CreateDocument(fileName, std::move(image), parent, info);
        return true;
    } catch (const std::bad_alloc&) {
        // No half document: whatever CreateDocument built goes, the image with it.
        DestroyDocument();
        SetFileStatus(TFileErrorCode::feOutOfMemory, "out of memory");
        FileError = -1;
        return false;
    }
}

QString QtFilterOf(const std::string& item)
{
    const auto bar = item.find('|');
    return Q(item.substr(0, bar)) + QStringLiteral(" (") + Q(item.substr(bar + 1)) +
           QStringLiteral(")");
}

// The platform save dialog. Choosing another file type rewrites the extension of the typed name.
class TSaveDialogEx : public QFileDialog {
public:
    explicit TSaveDialogEx(QWidget* parent) : QFileDialog(parent)
    {
        setOption(QFileDialog::DontUseNativeDialog);  // the name box must be reachable
        setAcceptMode(QFileDialog::AcceptSave);
        setFileMode(QFileDialog::AnyFile);
        QStringList filters;
        for (const char* item : SaveFilterItems)
            filters << QtFilterOf(item);
        setNameFilters(filters);
        connect(this, &QFileDialog::filterSelected, this, [this](const QString& filter) {
            const int index = static_cast<int>(nameFilters().indexOf(filter)) + 1;
            // The whole text: cutting a long typed path would save the image somewhere else.
            if (auto* box = findChild<QLineEdit*>(QStringLiteral("fileNameEdit")))
                box->setText(Q(RetypedFileName(box->text().toStdString(), index)));
        });
    }

    int FilterIndex() const
    {
        return static_cast<int>(nameFilters().indexOf(selectedNameFilter())) + 1;
    }
};

}  // namespace

bool IsDocumentOpen() { return Current != nullptr && Current->View; }
TScrollBoxHdr* GetView() { return IsDocumentOpen() ? Current->View.data() : nullptr; }
TBmpHdr* GetImage() { return IsDocumentOpen() ? &Current->View->Image() : nullptr; }
TRect GetWorkRect() { return IsDocumentOpen() ? Current->WorkRect : TRect{}; }
TUndoList* GetUndoList() { return IsDocumentOpen() ? Current->UndoList.get() : nullptr; }

std::string GetDocumentName()
{
    if (!IsDocumentOpen())
        return {};
    if (!Current->HasFile)
        return Current->FileName;
    const auto slash = Current->FileName.rfind('/');
    return slash == std::string::npos ? Current->FileName : Current->FileName.substr(slash + 1);
}

std::string GetDocumentFileName() { return IsDocumentOpen() ? Current->FileName : std::string(); }
bool DocumentHasFile() { return IsDocumentOpen() && Current->HasFile; }
std::int32_t GetSavedUndoId() { return IsDocumentOpen() ? Current->SavedUndoId : -1; }

const TBmpHdr* GetUndoImage()
{
    TUndoList* list = GetUndoList();
    auto* item = list ? dynamic_cast<TUndoHdrItem*>(list->CurrentItem()) : nullptr;
    return item ? item->Saved() : nullptr;
}

void RefreshView(bool now)
{
    if (TScrollBoxHdr* view = GetView()) {
        view->viewport()->update();
        if (now)
            view->viewport()->repaint();
    }
}

void UpdateView()
{
    if (TScrollBoxHdr* view = GetView())
        view->viewport()->repaint();  // Qt merges the pending region into this paint
}

TImageKind GetDocumentKind() { return IsDocumentOpen() ? Current->Kind : TImageKind::ikStandard; }

void SetDocumentKind(TImageKind kind)
{
    if (IsDocumentOpen())
        Current->Kind = kind;
}

bool IsHighDynamic() { return IsDocumentOpen() && Current->Kind != TImageKind::ikStandard; }
void ClearHighDynamic() { SetDocumentKind(TImageKind::ikStandard); }

bool IsDocumentModified()
{
    if (!IsDocumentOpen())
        return false;
    if (!Current->HasFile)
        return true;
    const TUndoList& list = *Current->UndoList;
    if (list.OldestDropped() || list.ModifiedBeforeClear() != 0)
        return true;
    const TUndoItem* item = list.CurrentItem();
    if (!item)
        return Current->SavedUndoId >= 0;
    return item->Id() != Current->SavedUndoId;
}

bool FileErrorOccurred() { return FileError != 0; }
std::int32_t LastFileError() { return FileError; }
std::uint32_t DocumentSerial() { return Serial; }

float SaneDpi(float dpi)
{
    return std::isfinite(dpi) && dpi >= 1.0f && dpi <= 1000000.0f ? dpi : 72.0f;
}

bool OpenWithFreeImage(std::string& fileName, QWidget* parent)
{
    return OpenWith(TLoadPath::lpFreeImage, fileName, parent);
}

bool OpenWithPlatform(std::string& fileName, QWidget* parent)
{
    return OpenWith(TLoadPath::lpPlatform, fileName, parent);
}

void CreateDocument(const std::string& fileName, TBmpHdr image, QWidget* parent,
                    const TImageInfo& info)
{
    DestroyDocument();  // one document at a time
    TScrollBoxHdr* view = NewView(parent, std::move(image));
    Document.View = view;  // so that an exception below still frees it
    view->SetTransparent(info.Transparent);
    view->SetDpiX(SaneDpi(info.DpiX));
    view->SetDpiY(SaneDpi(info.DpiY));
    AdoptDocument(view, fileName, true, info.Kind);
}

void NewMergedDocument(const TBmpList& list, QWidget* parent)
{
    DestroyDocument();
    TScrollBoxHdr* view = NewView(parent, TBmpHdr());
    Document.View = view;
    try {
        list.Merge(&view->Image());
    } catch (const std::bad_alloc&) {
        DestroyDocument();
        throw;
    }
    AdoptDocument(view, MergedDocumentName, false, TImageKind::ikStandard);
    FileError = 0;
}

bool SaveDocument(const std::string& fileName, const std::string& defaultName)
{
    if (!IsDocumentOpen())
        return false;
    std::string name = fileName;
    FileError = -2;
    if (name.empty()) {
        SaveImageDialog(defaultName, name);
        if (name.empty())
            return false;
    }
    TScrollBoxHdr& view = *Current->View;
    TImageInfo info;
    info.Transparent = view.Transparent();
    info.Gamma = IsHighDynamic() ? 1.0f : 2.2f;
    info.DpiX = view.DpiX();
    info.DpiY = view.DpiY();
    const std::optional<TSaveFormat> format = SaveFormatFromFileName(name);
    if (!format) {
        ShowError(SUnableToSave, name);
        return false;
    }
    if (!SaveFormatKeepsAlpha(*format) && !ConfirmAlphaLoss())
        return false;  // the user's own No: nothing to report
    if (*format == TSaveFormat::sfJpeg)
        info.JpegFlags = JPEG_QUALITYSUPERB;
    // FreeImage's default writes half floats: 0.1234567 comes back as 0.123474 and anything above
    // 65504 as infinity, which would make the editor's own lossless format lose the image.
    if (*format == TSaveFormat::sfExr)
        info.ExrFlags = EXR_FLOAT;
    bool written = false;
    try {
        written = SaveImageFile(name, *format, &view.Image(), info);
    } catch (const std::bad_alloc&) {
        written = false;
    }
    if (!written) {
        ShowError(SUnableToSave, name);
        return false;
    }
    FileError = 0;
    Current->FileName = name;
    Current->HasFile = true;
    TUndoList& list = *Current->UndoList;
    list.SetModifiedBeforeClear(0);
    list.ResetFlags();
    Current->SavedUndoId = list.CurrentItem() ? list.CurrentItem()->Id() : -1;
    return true;
}

bool CloseDocument()
{
    const bool had = IsDocumentOpen();
    DestroyDocument();
    return had;
}

bool ConfirmAlphaLoss()
{
    const TScrollBoxHdr* view = GetView();
    if (!view || !view->Transparent())
        return true;
    return MessageBox(QString::fromUtf8(STransparencyUnsupported), TMsgKind::mkConfirmation,
                      MbYes | MbNo) == MrYes;
}

bool QueryCloseDocument()
{
    if (!IsDocumentOpen())
        return false;
    int answer = MrNo;
    if (IsDocumentModified())
        answer = MessageBox(QString::fromUtf8(SSaveChanges), TMsgKind::mkConfirmation,
                            MbYes | MbNo | MbCancel);
    if (answer == MrYes) {
        if (!SaveDocument({}, AddHdSuffix(Current->FileName)))
            return false;
    } else if (answer != MrNo) {
        return false;
    }
    return CloseDocument();
}

void ShowOpenAdvice()
{
    switch (GetDocumentKind()) {
        case TImageKind::ikHighRange:
            MessageBox(QString::fromUtf8(SToneMappingNeeded), TMsgKind::mkWarning, MbOk);
            break;
        case TImageKind::ikHighPrecision:
            MessageBox(QString::fromUtf8(SToneMappingAdvised), TMsgKind::mkInformation, MbOk);
            ClearHighDynamic();
            break;
        case TImageKind::ikStandard:
            break;
    }
}

std::string AddHdSuffix(const std::string& fileName)
{
    const auto slash = fileName.rfind('/');
    const std::size_t start = slash == std::string::npos ? 0 : slash + 1;
    // A hidden file's leading "." is part of its name, not the start of an extension.
    const std::size_t from = start < fileName.size() && fileName[start] == '.' ? start + 1 : start;
    const auto dot = fileName.find('.', from);
    if (dot == std::string::npos)
        return fileName;
    return fileName.substr(0, dot) + "_HD" + fileName.substr(dot);
}

std::string ExtractFileExt(const std::string& fileName)
{
    const auto slash = fileName.rfind('/');
    const std::size_t start = slash == std::string::npos ? 0 : slash + 1;
    const auto dot = fileName.rfind('.');
    if (dot == std::string::npos || dot < start || dot == start)
        return {};
    return fileName.substr(dot);
}

std::string ChangeFileExt(const std::string& fileName, const std::string& ext)
{
    const std::string old = ExtractFileExt(fileName);
    return fileName.substr(0, fileName.size() - old.size()) + ext;
}

std::string FilterItemExt(const std::string& item)
{
    std::string mask = item.substr(item.find('|') + 1);
    mask = mask.substr(0, mask.find(';'));
    const auto dot = mask.find('.');
    return dot == std::string::npos ? std::string() : mask.substr(dot);
}

std::string RetypedFileName(const std::string& typed, int filterIndex)
{
    if (typed.empty() || filterIndex < 1 || filterIndex > static_cast<int>(SaveFilterItems.size()))
        return typed;
    return ChangeFileExt(typed,
                         FilterItemExt(SaveFilterItems[static_cast<std::size_t>(filterIndex - 1)]));
}

int SaveFilterIndexOf(const std::string& fileName)
{
    const std::string ext = ExtractFileExt(fileName);
    for (std::size_t i = 0; i < SaveFilterItems.size(); ++i) {
        if (FilterItemExt(SaveFilterItems[i]) == ext)
            return static_cast<int>(i) + 1;
    }
    return static_cast<int>(SaveFilterItems.size());
}

void OpenImageDialog(const std::string& filter, std::vector<std::string>* list, std::string& name)
{
    name.clear();
    std::string used = filter;
    if (used.empty())
        used = IsFreeImageAvailable() ? "All images|*" : "JPEG|*.jpg";
    std::vector<std::string> chosen;
    if (OnOpenDialog) {
        chosen = OnOpenDialog(used, list != nullptr);
    } else {
        QStringList names;
        if (list) {
            names = QFileDialog::getOpenFileNames(MainForm(), {}, {}, QtFilterOf(used));
        } else {
            const QString one = QFileDialog::getOpenFileName(MainForm(), {}, {}, QtFilterOf(used));
            if (!one.isEmpty())
                names << one;
        }
        for (const QString& n : names)
            chosen.push_back(n.toStdString());
    }
    if (chosen.empty())
        return;
    name = chosen.front();
    if (list)
        *list = chosen;
}

void SaveImageDialog(const std::string& defaultName, std::string& name)
{
    name.clear();
    const int index = SaveFilterIndexOf(defaultName);
    const std::string ext = FilterItemExt(SaveFilterItems[static_cast<std::size_t>(index - 1)]);
    const std::string proposed = ChangeFileExt(defaultName, ext);
    TSaveAnswer answer;
    if (OnSaveDialog) {
        answer = OnSaveDialog(proposed, index);
    } else {
        TSaveDialogEx dialog(MainForm());
        dialog.selectNameFilter(dialog.nameFilters().value(index - 1));
        dialog.selectFile(Q(proposed));
        if (OnSaveDialogShown)
            OnSaveDialogShown(dialog);
        if (dialog.exec() == QDialog::Accepted && !dialog.selectedFiles().isEmpty()) {
            answer.FileName = dialog.selectedFiles().front().toStdString();
            answer.FilterIndex = dialog.FilterIndex();
        }
    }
    if (answer.FileName.empty())
        return;
    name = answer.FileName;
    if (!SaveFormatFromFileName(name) && answer.FilterIndex >= 1 &&
        answer.FilterIndex <= static_cast<int>(SaveFilterItems.size()))
        name += FilterItemExt(SaveFilterItems[static_cast<std::size_t>(answer.FilterIndex - 1)]);
}

}  // namespace lumivex
