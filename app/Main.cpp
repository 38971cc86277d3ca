#include "app/Main.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QColorDialog>
#include <QCoreApplication>
#include <QDesktopServices>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QMimeData>
#include <QPainter>
#include <QPen>
#include <QPixmap>
#include <QScreen>
#include <QStatusBar>
#include <QStyle>
#include <QToolButton>
#include <QUrl>
#include <QVBoxLayout>
#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <new>
#include <stdexcept>

#include "adjust/ColorAdjust.h"
#include "adjust/HistogramHdr.h"
#include "app/About.h"
#include "app/GlbStrings.h"
#include "app/Labels.h"
#include "app/MyMsgDlg.h"
#include "core/Progress.h"
#include "dialogs/DlgManager.h"
#include "dialogs/FilterDialogs.h"
#include "geometry/GeometryHdr.h"
#include "history/UndoCommands.h"
#include "history/UndoHdr.h"
#include "io/FreeImageApi.h"
#include "io/ImageLib.h"
#include "view/DisplayHdr.h"
#include "view/HdrScroll.h"
#include "widgets/ColorPicker.h"
#include "widgets/DropDownEdit.h"
#include "widgets/ImageButtons.h"

namespace lumivex {

// The side panel: its two pictures are drawn by the main window.
class TSidePanel : public QWidget {
public:
    TSidePanel(TFrmMain* owner, QWidget* parent) : QWidget(parent), m_owner(owner) {}

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        m_owner->PaintSidePanel(painter);
    }

private:
    TFrmMain* m_owner;
};

namespace {

constexpr int SidePanelWidth = 238;
constexpr int PictureHeight = 150;
constexpr int PictureLeft = 9;  // 8, and one more past the panel's left edge
constexpr int PictureTop = 8;
constexpr int ThumbnailGap = 158;

QString Q(const std::string& s) { return QString::fromStdString(s); }
QString U(const char* s) { return QString::fromUtf8(s); }

// The toolbar's 19-pixel glyphs: 0 open, 1 save, 2 undo, 3 redo from the style, then 4 zoom in,
// 5 zoom out, 6 original size and 7 auto zoom drawn here (the style has no zoom icons).
std::vector<QIcon> MainImageList(const QStyle* style)
{
    constexpr int size = 19;
    std::vector<QIcon> images;
    for (const QStyle::StandardPixmap p : {QStyle::SP_DialogOpenButton, QStyle::SP_DialogSaveButton,
                                           QStyle::SP_ArrowBack, QStyle::SP_ArrowForward})
        images.push_back(QIcon(style->standardIcon(p).pixmap(size, size)));
    auto glyph = [](const std::function<void(QPainter&)>& draw) {
        QPixmap pixmap(size, size);
        pixmap.fill(Qt::transparent);
        QPainter painter(&pixmap);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(QPen(QColor(40, 40, 40), 1.6));
        draw(painter);
        return QIcon(pixmap);
    };
    auto lens = [](QPainter& p) {
        p.drawEllipse(QRectF(2.5, 2.5, 10, 10));
        p.drawLine(QPointF(11.5, 11.5), QPointF(16.5, 16.5));
    };
    images.push_back(glyph([&lens](QPainter& p) {
        lens(p);
        p.drawLine(QPointF(5, 7.5), QPointF(10, 7.5));
        p.drawLine(QPointF(7.5, 5), QPointF(7.5, 10));
    }));
    images.push_back(glyph([&lens](QPainter& p) {
        lens(p);
        p.drawLine(QPointF(5, 7.5), QPointF(10, 7.5));
    }));
    images.push_back(glyph([](QPainter& p) {
        QFont font = p.font();
        font.setPixelSize(9);
        font.setBold(true);
        p.setFont(font);
        p.drawText(QRect(0, 0, size, size), Qt::AlignCenter, QStringLiteral("1:1"));
    }));
    images.push_back(glyph([](QPainter& p) {
        p.drawRect(QRectF(2.5, 4.5, 14, 10));
        p.drawLine(QPointF(5, 7), QPointF(8, 7));
        p.drawLine(QPointF(5, 7), QPointF(5, 9));
        p.drawLine(QPointF(14, 12), QPointF(11, 12));
        p.drawLine(QPointF(14, 12), QPointF(14, 10));
    }));
    return images;
}

TColor ToTColor(const QColor& c)
{
    return static_cast<TColor>(c.red() | (c.green() << 8) | (c.blue() << 16));
}

QColor ToQColor(TColor c)
{
    if (c < 0)
        c = GetSysColor(c & 0xFF);
    return QColor(c & 0xFF, (c >> 8) & 0xFF, (c >> 16) & 0xFF);
}

// The system colours the engine asks for, from the Qt palette.
void LoadSystemColors(const QPalette& p)
{
    SetSysColor(ColorWindow, ToTColor(p.color(QPalette::Base)));
    SetSysColor(ColorWindowText, ToTColor(p.color(QPalette::Text)));
    SetSysColor(ColorHighlight, ToTColor(p.color(QPalette::Highlight)));
    SetSysColor(ColorHighlightText, ToTColor(p.color(QPalette::HighlightedText)));
    SetSysColor(ColorBtnFace, ToTColor(p.color(QPalette::Button)));
    SetSysColor(ColorBtnShadow, ToTColor(p.color(QPalette::Dark)));
    SetSysColor(ColorGrayText, ToTColor(p.color(QPalette::Disabled, QPalette::Text)));
    SetSysColor(ColorBtnText, ToTColor(p.color(QPalette::ButtonText)));
    SetSysColor(ColorBtnHighlight, ToTColor(p.color(QPalette::Light)));
    SetSysColor(Color3DDkShadow, ToTColor(p.color(QPalette::Shadow)));
    SetSysColor(Color3DLight, ToTColor(p.color(QPalette::Midlight)));
}

QImage ToQImage(const TBitmap& bitmap)
{
    if (bitmap.IsEmpty())
        return {};
    const QImage wrapped(bitmap.ScanLine(0), bitmap.Width(), bitmap.Height(),
                         static_cast<qsizetype>(bitmap.BytesPerLine()), QImage::Format_BGR888);
    return wrapped.convertToFormat(QImage::Format_RGB32);
}

void FillWhite(TBitmap& bitmap)
{
    for (std::int32_t y = 0; y < bitmap.Height(); ++y)
        std::fill_n(bitmap.ScanLine(y), bitmap.BytesPerLine(), std::uint8_t{255});
}

bool IsUserInput(QEvent::Type type)
{
    switch (type) {
        case QEvent::KeyPress:
        case QEvent::KeyRelease:
        case QEvent::ShortcutOverride:
        case QEvent::Shortcut:
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonRelease:
        case QEvent::MouseButtonDblClick:
        case QEvent::Wheel:
        case QEvent::Drop:
        case QEvent::Close:
        case QEvent::TouchBegin:
            return true;
        default:
            return false;
    }
}

}  // namespace

TColor BlendColors(TColor a, TColor b, double factor)
{
    if (a < 0)
        a = GetSysColor(a & 0xFF);
    if (b < 0)
        b = GetSysColor(b & 0xFF);
    if (factor <= 0.0)
        return a;
    if (factor >= 1.0)
        return b;
    TColor result = 0;
    for (int shift = 0; shift <= 16; shift += 8) {
        const double ca = (a >> shift) & 0xFF;
        const double cb = (b >> shift) & 0xFF;
        result |= static_cast<TColor>(std::nearbyint(ca + (cb - ca) * factor)) << shift;
    }
    return result;
}

TFrmMain::TFrmMain(QWidget* parent) : QMainWindow(parent)
{
    // Hooks first, as the original installed them at construction.
    SetMainForm(this);
    OnBeforeMessage = [] {
        if (TranslucentDialogs())
            UpdateView();
    };
    OnDialogMode = [this](std::uint8_t kind, TMainDialogForm* dialog) {
        SetDialogMode(kind, dialog);
    };
    OnProgress = [this](int stage, int percent, int) { ProgressHook(stage, percent); };
    HistoryHooks().BeginWait = [this] { BeginWait(); };
    HistoryHooks().EndWait = [this] { EndWait(); };
    HistoryHooks().UpdateToolbar = [this](int mask) { UpdateToolbar(mask); };
    HistoryHooks().UpdateSidePanel = [this](int mask) { UpdateSidePanel(mask); };

    // FormCreate.
    setObjectName(QStringLiteral("FrmMain"));
    setWindowTitle(QStringLiteral("Lumivex HD"));
    setFont(UIFont());
    setMinimumSize(600, 300);
    resize(DesignedWindowWidth, DesignedWindowHeight);
    LoadSystemColors(palette());
    const std::string folder = SettingsFolder();
    if (!folder.empty()) {
        SettingsFile = MainSettingsFile(folder);
        DialogsFile = DialogsFileName(SettingsFile);
        DialogSettingsEnabled = true;
        LoadWindowState(SettingsFile, *this);
    }

    auto* central = new QWidget(this);
    auto* rows = new QVBoxLayout(central);
    rows->setContentsMargins(0, 0, 0, 0);
    rows->setSpacing(0);
    PnlTop = new QWidget(central);
    PnlTop->setObjectName(QStringLiteral("PnlTop"));
    PnlTop->setFixedHeight(40);
    rows->addWidget(PnlTop);
    auto* columns = new QHBoxLayout();
    columns->setContentsMargins(0, 0, 0, 0);
    columns->setSpacing(0);
    rows->addLayout(columns, 1);
    PnlClient = new QWidget(central);
    PnlClient->setObjectName(QStringLiteral("PnlClient"));
    auto* client = new QVBoxLayout(PnlClient);
    client->setContentsMargins(0, 0, 0, 0);
    PnlClient->setAutoFillBackground(true);
    PnlClient->setBackgroundRole(QPalette::Dark);  // the application work space
    columns->addWidget(PnlClient, 1);
    PnlSide = new TSidePanel(this, central);
    PnlSide->setObjectName(QStringLiteral("PnlSide"));
    PnlSide->setFixedWidth(SidePanelWidth);
    columns->addWidget(PnlSide);
    setCentralWidget(central);

    BuildMenus();
    BuildToolbar();
    BuildStatusBar();
    RegisterFilterDialogs(*this);
    setAcceptDrops(true);
    SliderShadeColor =
        BlendColors(SystemColorFlag | ColorBtnFace, SystemColorFlag | ColorBtnShadow, 0.2);
    ColorPickerDefaults = {U(SColorOther), QString::fromLatin1(ColorPickerNoDefault),
                           new QColorDialog(this)};

    const int pictureWidth = SidePanelWidth - 17;
    m_histogramBitmap = TBitmap(pictureWidth, PictureHeight, TPixelFormat::pf24bit);
    m_thumbnailBitmap = TBitmap(pictureWidth, PictureHeight, TPixelFormat::pf24bit);
    UpdateSidePanel(3);
    UpdateToolbar(7);
    UpdateStatus();
    SetStatusText(U(SReady));
}

TFrmMain::~TFrmMain()
{
    if (!SettingsFile.empty())
        SaveWindowState(SettingsFile, *this);
    CloseDocument();  // the view is our child: it must go before the record forgets it
    ClearRepeat();
    qApp->removeEventFilter(this);
    OnProgress = nullptr;
    OnDialogMode = nullptr;
    OnBeforeMessage = nullptr;
    HistoryHooks() = THistoryHooks{};
    if (MainForm() == this)
        SetMainForm(nullptr);
}

// ---------------------------------------------------------------------------------------------
// Building

void TFrmMain::BuildMenus()
{
    int separator = 0;
    auto add = [this](QMenu* menu, const char* name, const char* caption, QKeySequence key,
                      std::function<void()> handler, bool command = true) {
        QAction* item = menu->addAction(U(caption));
        item->setObjectName(QString::fromLatin1(name));
        if (!key.isEmpty())
            item->setShortcut(key);
        if (handler) {
            connect(item, &QAction::triggered, this,
                    [this, handler = std::move(handler)] { Guarded(handler); });
        }
        if (command)
            m_commandActions.push_back(item);
        return item;
    };
    auto sep = [&separator](QMenu* menu) {
        menu->addSeparator()->setObjectName(QStringLiteral("N%1").arg(++separator));
    };
    auto menu = [this](const char* name, const char* caption) {
        QMenu* m = menuBar()->addMenu(U(caption));
        m->setObjectName(QString::fromLatin1(name));
        connect(m, &QMenu::aboutToShow, this, [this] { UpdateMenus(); });
        return m;
    };
    using K = QKeySequence;

    MenuFile = menu("MenuFile", "&File");
    MenuFileOpen =
        add(MenuFile, "MenuFileOpen", "&Open...", K::Open, [this] { MenuFileOpenClick(); });
    MenuFileMerge = add(MenuFile, "MenuFileMerge", "&Merge HDR...", K(Qt::CTRL | Qt::Key_M),
                        [this] { MenuFileMergeClick(); });
    sep(MenuFile);
    MenuFileSave =
        add(MenuFile, "MenuFileSave", "&Save as...", K::Save, [this] { MenuFileSaveClick(); });
    MenuFileExport = add(MenuFile, "MenuFileExport", "&Export...", K(Qt::CTRL | Qt::Key_E),
                         [this] { MenuFileExportClick(); });
    sep(MenuFile);
    MenuFileClose = add(MenuFile, "MenuFileClose", "&Close", K(Qt::CTRL | Qt::Key_W),
                        [this] { MenuFileCloseClick(); });
    sep(MenuFile);
    MenuFileExit =
        add(MenuFile, "MenuFileExit", "E&xit", K(Qt::CTRL | Qt::Key_Q), [this] { close(); });

    MenuEdit = menu("MenuEdit", "&Edit");
    MenuEditUndo = add(MenuEdit, "MenuEditUndo", SUndo, K::Undo, [this] { MenuEditUndoClick(); });
    MenuEditRedo = add(MenuEdit, "MenuEditRedo", SRedo, K(Qt::CTRL | Qt::Key_Y),
                       [this] { MenuEditRedoClick(); });
    sep(MenuEdit);
    MenuEditFade = add(MenuEdit, "MenuEditFade", "Fade...", K(Qt::CTRL | Qt::SHIFT | Qt::Key_F),
                       [this] { RunDialogCommand(MenuEditFade); });
    MenuEditRepeat = add(MenuEdit, "MenuEditRepeat", SRepeat, K(Qt::CTRL | Qt::Key_F),
                         [this] { MenuEditRepeatClick(); });
    sep(MenuEdit);
    MenuEditClearUndo = add(MenuEdit, "MenuEditClearUndo", "&Clear undo histories", {},
                            [this] { MenuEditClearUndoClick(); });

    MenuImage = menu("MenuImage", "&Image");
    MenuImageFlipHorz = add(MenuImage, "MenuImageFlipHorz", "Flip &horizontal", {},
                            [this] { MenuImageFlipHorzClick(); });
    MenuImageFlipVert = add(MenuImage, "MenuImageFlipVert", "Flip &vertical", {},
                            [this] { MenuImageFlipVertClick(); });
    sep(MenuImage);
    MenuImageRotate90c = add(MenuImage, "MenuImageRotate90c", "Rotate 90\u00B0 CW",
                             K(Qt::CTRL | Qt::Key_R), [this] { MenuImageRotate90cClick(); });
    MenuImageRotate90a =
        add(MenuImage, "MenuImageRotate90a", "Rotate 90\u00B0 CCW",
            K(Qt::CTRL | Qt::SHIFT | Qt::Key_R), [this] { MenuImageRotate90aClick(); });
    MenuImageFlip180 = add(MenuImage, "MenuImageFlip180", "Rotate 180\u00B0", {},
                           [this] { MenuImageFlip180Click(); });
    sep(MenuImage);
    MenuImageResize =
        add(MenuImage, "MenuImageResize", "Image &size...", K(Qt::CTRL | Qt::ALT | Qt::Key_I),
            [this] { RunDialogCommand(MenuImageResize); });
    MenuImageRotate = add(MenuImage, "MenuImageRotate", "Rotate &free...", {},
                          [this] { RunDialogCommand(MenuImageRotate); });
    sep(MenuImage);
    MenuImageDisableAlpha = add(MenuImage, "MenuImageDisableAlpha", "Disable Alpha transparency",
                                {}, [this] { MenuImageDisableAlphaClick(); });

    MenuAdjust = menu("MenuAdjust", "&Adjust");
    auto dialogItem = [&](const char* name, const char* caption, K key) {
        QAction* item = add(MenuAdjust, name, caption, key, {});
        connect(item, &QAction::triggered, this,
                [this, item] { Guarded([this, item] { RunDialogCommand(item); }); });
        return item;
    };
    MenuAdjustToneMap =
        dialogItem("MenuAdjustToneMap", "&Tone mapping...", K(Qt::CTRL | Qt::Key_T));
    MenuAdjustEgalize = add(MenuAdjust, "MenuAdjustEgalize", "Automatic &equalization", {},
                            [this] { MenuAdjustEgalizeClick(); });
    MenuAdjustAutoWB = add(MenuAdjust, "MenuAdjustAutoWB", "Automatic &white balance", {},
                           [this] { MenuAdjustAutoWBClick(); });
    sep(MenuAdjust);
    MenuAdjustLuminosity = dialogItem("MenuAdjustLuminosity", "&Brightness / Color balance...",
                                      K(Qt::CTRL | Qt::Key_B));
    MenuAdjustContrast = dialogItem("MenuAdjustContrast", "&Contrast linear...", {});
    MenuAdjustLevelsLinear =
        dialogItem("MenuAdjustLevelsLinear", "&Levels linear...", K(Qt::CTRL | Qt::Key_L));
    sep(MenuAdjust);
    MenuAdjustSaturation =
        dialogItem("MenuAdjustSaturation", "&Saturation...", K(Qt::CTRL | Qt::Key_U));
    MenuAdjustHue = dialogItem("MenuAdjustHue", "&Hue...", {});
    sep(MenuAdjust);
    MenuAdjustHistogram =
        dialogItem("MenuAdjustHistogram", "Histo&gram...", K(Qt::CTRL | Qt::Key_H));
    MenuAdjustGamma = dialogItem("MenuAdjustGamma", "Gamma correct...", K(Qt::CTRL | Qt::Key_G));
    MenuAdjustSCurve = dialogItem("MenuAdjustSCurve", "Contrast exponential (S curve)...", {});
    MenuAdjustLevelsCurve = dialogItem("MenuAdjustLevelsCurve", "Levels exponential...", {});
    sep(MenuAdjust);
    MenuAdjustNegative = add(MenuAdjust, "MenuAdjustNegative", "&Negative", K(Qt::CTRL | Qt::Key_I),
                             [this] { MenuAdjustNegativeClick(); });

    MenuFilter = menu("MenuFilter", "F&ilter");
    auto filterItem = [&](const char* name, const char* caption) {
        QAction* item = add(MenuFilter, name, caption, {}, {});
        connect(item, &QAction::triggered, this,
                [this, item] { Guarded([this, item] { RunDialogCommand(item); }); });
        return item;
    };
    MenuFilterGray = filterItem("MenuFilterGray", "&Grayscale...");
    MenuFilterColoredLayer = filterItem("MenuFilterColoredLayer", "&Colored layer...");
    sep(MenuFilter);
    MenuFilterSoften = filterItem("MenuFilterSoften", "&Soften...");
    MenuFilterBlur = filterItem("MenuFilterBlur", "&Blur...");
    MenuFilterGaussBlur = filterItem("MenuFilterGaussBlur", "G&aussian blur...");
    MenuFilterUnsharpMask = filterItem("MenuFilterUnsharpMask", "&Unsharp mask...");
    sep(MenuFilter);
    MenuFilterMicroDetails = filterItem("MenuFilterMicroDetails", "&Micro details...");

    MenuView = menu("MenuView", "&View");
    MenuViewZoomIn = add(
        MenuView, "MenuViewZoomIn", "Zoom &in", K::ZoomIn,
        [this] { ChooseZoom(ZoomInLevel(GetView() ? GetView()->Zoom() : 1.0f)); }, false);
    MenuViewZoomOut = add(
        MenuView, "MenuViewZoomOut", "Zoom &out", K::ZoomOut,
        [this] { ChooseZoom(ZoomOutLevel(GetView() ? GetView()->Zoom() : 1.0f)); }, false);
    sep(MenuView);
    MenuViewZoom100 = add(
        MenuView, "MenuViewZoom100", "&Original size", K(Qt::CTRL | Qt::Key_0),
        [this] { ChooseZoom(1000); }, false);
    MenuViewZoomAuto = add(
        MenuView, "MenuViewZoomAuto", "&Auto zoom", K(Qt::CTRL | Qt::Key_9),
        [this] { ChooseZoom(0); }, false);

    MenuHelp = menuBar()->addMenu(QStringLiteral("&?"));
    MenuHelp->setObjectName(QStringLiteral("MenuHelp"));
    MenuHelpWeb = add(
        MenuHelp, "MenuHelpWeb", "Official &web site", {}, [this] { MenuHelpWebClick(); }, false);
    sep(MenuHelp);
    MenuHelpAboutFreeImage = add(
        MenuHelp, "MenuHelpAboutFreeImage", "About &FreeImage...", {},
        [this] { MenuHelpAboutFreeImageClick(); }, false);
    MenuHelpAboutLvx = add(
        MenuHelp, "MenuHelpAboutLvx", "&About Lumivex HD...", K::HelpContents,
        [this] { MenuHelpAboutLvxClick(); }, false);
}

void TFrmMain::BuildToolbar()
{
    auto* row = new QHBoxLayout(PnlTop);
    row->setContentsMargins(8, 7, 8, 6);
    row->setSpacing(0);
    const std::vector<QIcon> images = MainImageList(style());
    FileButtons = new TImageButtonGroup(PnlTop);
    FileButtons->setObjectName(QStringLiteral("FileButtons"));
    FileButtons->Images = images;
    FileButtons->AddButton(0, Q(MenuLabel(MenuFileOpen)));
    FileButtons->AddButton(1, Q(MenuLabel(MenuFileSave)));
    FileButtons->AddSeparator(7);
    FileButtons->AddButton(2, Q(MenuLabel(MenuEditUndo)));
    FileButtons->AddButton(3, Q(MenuLabel(MenuEditRedo)));
    FileButtons->OnClick = [this](TImageButtonGroup&, int index) {
        Guarded([this, index] {
            if (index == 0)
                MenuFileOpenClick();
            else if (index == 1)
                MenuFileSaveClick();
            else if (index == 3)
                MenuEditUndoClick(false);
            else if (index == 4)
                MenuEditRedoClick(false);
        });
    };
    row->addWidget(FileButtons);
    row->addSpacing(12);

    ZoomBox = new TDropDownEdit(PnlTop);
    ZoomBox->setObjectName(QStringLiteral("ZoomBox"));
    ZoomBox->setFixedWidth(80);
    ZoomBox->setReadOnly(true);  // the levels come from the list
    auto* zoomMenu = new QMenu(ZoomBox);
    zoomMenu->setObjectName(QStringLiteral("ZoomMenu"));
    zoomMenu->addAction(U(SZoomAuto), this, [this] { ChooseZoom(0); });
    zoomMenu->addSeparator();
    for (const std::int32_t level : ZoomLevels) {
        if (level == 1000)
            zoomMenu->addSeparator();
        QAction* item = zoomMenu->addAction(ZoomLevelCaption(level), this,
                                            [this, level] { ChooseZoom(level); });
        if (level == 1000) {
            zoomMenu->setDefaultAction(item);
            zoomMenu->addSeparator();
        }
    }
    ZoomBox->SetDropDownMenu(zoomMenu);
    row->addWidget(ZoomBox);
    row->addSpacing(7);

    ViewButtons = new TImageButtonGroup(PnlTop);
    ViewButtons->setObjectName(QStringLiteral("ViewButtons"));
    ViewButtons->Images = images;
    const std::array<QAction*, 4> viewItems{MenuViewZoomIn, MenuViewZoomOut, MenuViewZoom100,
                                            MenuViewZoomAuto};
    for (int i = 0; i < 4; ++i)
        ViewButtons->AddButton(4 + i, Q(MenuLabel(viewItems[static_cast<std::size_t>(i)])));
    ViewButtons->OnClick = [this, viewItems](TImageButtonGroup&, int index) {
        viewItems[static_cast<std::size_t>(index)]->trigger();
    };
    row->addWidget(ViewButtons);
    row->addStretch(1);
    UpdateZoomBox();
}

void TFrmMain::BuildStatusBar()
{
    statusBar()->setObjectName(QStringLiteral("StatusBar"));
    const int widths[] = {300, 130, 100, 50};
    for (int i = 0; i < 4; ++i) {
        auto* panel = new QLabel(statusBar());
        panel->setObjectName(QStringLiteral("StatusPanel%1").arg(i));
        panel->setMinimumWidth(widths[i]);
        if (i == 1 || i == 2)
            panel->setAlignment(Qt::AlignCenter);
        statusBar()->addWidget(panel, i == 3 ? 1 : 0);
        m_panels.push_back(panel);
    }
}

// ---------------------------------------------------------------------------------------------
// The operation protocol

void TFrmMain::BeginWait()
{
    if (++m_waitCount == 1) {
        SetStatusText(Q(MakeLabel(SProcessing, 1)));
        QApplication::setOverrideCursor(Qt::WaitCursor);  // applied at once
    }
}

void TFrmMain::EndWait()
{
    if (m_waitCount <= 0)
        return;
    if (--m_waitCount == 0) {
        SetStatusText(U(SReady));
        QApplication::restoreOverrideCursor();
    }
}

void TFrmMain::BeginDirect(QAction* item)
{
    UpdateView();
    BeginUndo(umFadable, MenuLabel(item));
    BeginWait();
}

void TFrmMain::EndDirect(QAction* item)
{
    EndOperation();
    AfterImageChange(false);
    if (item) {
        const QPointer<QAction> source = item;
        SetRepeat({}, 0, [source] {
            if (source)
                source->trigger();
        });
    } else {
        ClearRepeat();
    }
    UpdateMenus();
}

void TFrmMain::BeginGeometry(QAction* item)
{
    UpdateView();
    BeginUndo(umWholeImage, MenuLabel(item));
    BeginWait();
}

void TFrmMain::EndGeometry(QAction* item, bool sizeChanged)
{
    EndOperation();
    if (!sizeChanged)
        UpdateStatus();
    AfterImageChange(sizeChanged);
    if (item) {
        const QPointer<QAction> source = item;
        SetRepeat({}, 0, [source] {
            if (source)
                source->trigger();
        });
    } else {
        ClearRepeat();
    }
    UpdateMenus();
}

void TFrmMain::EndOperation()
{
    RefreshView(false);
    ProgressAborted = false;
    ProgressTotal = 1;
    if (IsProgressBusy())
        FilterProgress(psEnd, 0);
    UpdateSidePanel(2);
    EndWait();
}

void TFrmMain::AfterImageChange(bool sizeChanged)
{
    if (sizeChanged) {
        if (m_zoomLevel == 0 && GetView())
            GetView()->ZoomToFit(true);
        UpdateZoomBox();
        UpdateStatus();
    }
    UpdateSidePanel(1);
}

void TFrmMain::ProgressHook(int mode, int percent)
{
    switch (mode) {
        case psStart:
            m_progressRestoreText = StatusText(0);
            m_progressFormat = U(SProcessing) + QStringLiteral(" : %1%");
            // While a long operation reports, user input is held back except Escape, which
            // stops it; so nothing can start a second command inside the first.
            if (!m_inputBlocked) {
                qApp->installEventFilter(this);
                m_inputBlocked = true;
            }
            break;
        case psStep:
            SetStatusText(m_progressFormat.arg(percent));
            QCoreApplication::processEvents();
            break;
        default:
            SetStatusText(m_progressRestoreText);
            if (m_inputBlocked) {
                qApp->removeEventFilter(this);
                m_inputBlocked = false;
            }
            break;
    }
}

bool TFrmMain::eventFilter(QObject* watched, QEvent* event)
{
    if (m_inputBlocked && IsUserInput(event->type())) {
        if (event->type() == QEvent::KeyPress &&
            static_cast<QKeyEvent*>(event)->key() == Qt::Key_Escape)
            ProgressAborted = true;
        return true;
    }
    return QMainWindow::eventFilter(watched, event);
}

void TFrmMain::Guarded(const std::function<void()>& body)
{
    const int depth = m_waitCount;
    QString failure;
    try {
        body();
        return;
    } catch (const std::bad_alloc&) {
        failure = U(SOutOfMemory);
    } catch (const std::exception& e) {
        failure = QString::asprintf(SOperationFailed, e.what());
    } catch (...) {
        failure = QString::asprintf(SOperationFailed, "unknown");
    }
    while (m_waitCount > depth)
        EndWait();
    if (m_inputBlocked) {
        qApp->removeEventFilter(this);
        m_inputBlocked = false;
    }
    ProgressAborted = false;
    UpdateMenus();
    Message(failure, static_cast<int>(TMsgKind::mkError));
}

void TFrmMain::RunOperation(QAction* item, std::uint8_t mode, bool repeatable, bool sizeChanges,
                            const std::function<void(TBmpHdr& image)>& operation)
{
    if (!IsDocumentOpen())
        return;
    TUndoList* list = GetUndoList();
    const TUndoItem* before = list->CurrentItem();
    try {
        if (mode == umWholeImage)
            BeginGeometry(item);
        else
            BeginDirect(item);
    } catch (const std::bad_alloc&) {
        // No room for the record: the image is untouched, the record was never added.
        Message(U(SOutOfMemory), static_cast<int>(TMsgKind::mkError));
        return;
    }
    auto* record = dynamic_cast<TUndoHdrItem*>(list->CurrentItem());
    QString failure;
    ProgressAborted = false;
    try {
        operation(*GetImage());
    } catch (const std::bad_alloc&) {
        failure = U(SOutOfMemory);
    } catch (const std::exception& e) {
        failure = QString::asprintf(SOperationFailed, e.what());
    }
    if (failure.isEmpty() && !ProgressAborted) {
        if (mode == umWholeImage)
            EndGeometry(repeatable ? item : nullptr, sizeChanges);
        else
            EndDirect(repeatable ? item : nullptr);
        return;
    }
    // Put the image back without allocating (the exchange only swaps rows), then forget the
    // record, so that the history is as it was before the command.
    if (record && record != before) {
        record->Exchange();
        SwapViewState(*record);  // kind, resolution, transparency as the record found them
        list->DeleteLast();
    }
    ClearRepeat();
    EndOperation();
    AfterImageChange(mode == umWholeImage);
    UpdateStatus();
    UpdateToolbar(1);
    if (!failure.isEmpty())
        Message(failure, static_cast<int>(TMsgKind::mkError));
}

// ---------------------------------------------------------------------------------------------
// Status, toolbar, menus, side panel

void TFrmMain::SetStatusText(const QString& text)
{
    if (m_panels.empty())
        return;
    m_panels[0]->setText(text);
    m_panels[0]->repaint();
}

QString TFrmMain::StatusText(int panel) const
{
    return panel >= 0 && panel < static_cast<int>(m_panels.size()) ? m_panels[panel]->text()
                                                                   : QString();
}

void TFrmMain::UpdateStatus()
{
    const TBmpHdr* image = GetImage();
    if (!image) {
        for (int i = 1; i < 4; ++i)
            m_panels[i]->clear();
        UpdateCaption();
        return;
    }
    QString size = QStringLiteral("%1 x %2").arg(image->Width()).arg(image->Height());
    if (GetView()->Transparent())
        size += QStringLiteral(" (") + U(SAlpha) + QStringLiteral(")");
    m_panels[1]->setText(size);
    m_panels[2]->setText(Q(SizeText(std::int64_t{image->Width()} * image->Height() * 16)));
    m_panels[3]->setText(Q(GetDocumentName()));
    UpdateCaption();
}

void TFrmMain::UpdateCaption()
{
    const std::string name = GetDocumentName();
    setWindowTitle(name.empty() ? QStringLiteral("Lumivex HD")
                                : Q(name) + QStringLiteral(" - Lumivex HD"));
}

void TFrmMain::UpdateToolbar(int mask)
{
    const bool open = IsDocumentOpen();
    const bool files = !m_dialogActive;
    const bool zoom = !m_dialogActive || m_dialogKind != 1;
    if (mask & 2) {
        const float z = open ? GetView()->Zoom() : 1.0f;
        ZoomBox->setEnabled(open && zoom);
        ViewButtons->SetButtonEnabled(0, open && zoom && ZoomInLevel(z) != 0);
        ViewButtons->SetButtonEnabled(1, open && zoom && ZoomOutLevel(z) != 0);
        ViewButtons->SetButtonEnabled(2, open && zoom);
        ViewButtons->SetButtonEnabled(3, open && zoom);
    }
    if (mask & 1) {
        FileButtons->SetButtonEnabled(1, files && IsDocumentModified());
        FileButtons->SetButtonEnabled(3, files && CanUndo());
        FileButtons->SetHint(3, Q(UndoCaption()));
        FileButtons->SetButtonEnabled(4, files && CanRedo());
        FileButtons->SetHint(4, Q(RedoCaption()));
    }
    if (mask & 4)
        FileButtons->SetButtonEnabled(0, files && !open);
    UpdateMenus();
}

void TFrmMain::UpdateMenus()
{
    const bool open = IsDocumentOpen();
    const bool high = IsHighDynamic();
    const TScrollBoxHdr* view = GetView();
    auto dialog = [this](QAction* item) { return m_dialogCommands.count(item) != 0; };

    MenuFileOpen->setEnabled(!open);
    MenuFileMerge->setEnabled(!open && dialog(MenuFileMerge));
    MenuFileSave->setEnabled(IsDocumentModified());
    MenuFileExport->setEnabled(open);
    MenuFileClose->setEnabled(open);
    MenuFileExit->setEnabled(true);

    MenuEditUndo->setEnabled(CanUndo());
    MenuEditUndo->setText(Q(UndoCaption()));
    MenuEditRedo->setEnabled(CanRedo());
    MenuEditRedo->setText(Q(RedoCaption()));
    MenuEditFade->setEnabled(CanFade() && dialog(MenuEditFade));
    MenuEditFade->setText(Q(FadeCaption()));
    MenuEditRepeat->setEnabled(CanRepeat());
    MenuEditRepeat->setText(Q(RepeatCaption()));
    MenuEditClearUndo->setEnabled(HasUndo());

    for (QAction* item : MenuImage->actions())
        item->setEnabled(open);
    MenuImageResize->setEnabled(open && !high && dialog(MenuImageResize));
    MenuImageRotate->setEnabled(open && !high && dialog(MenuImageRotate));
    MenuImageDisableAlpha->setEnabled(open && view->Transparent());

    for (QAction* item : MenuAdjust->actions()) {
        const bool needsDialog = item != MenuAdjustEgalize && item != MenuAdjustAutoWB &&
                                 item != MenuAdjustNegative && !item->isSeparator();
        item->setEnabled(open && !high && (!needsDialog || dialog(item)));
    }
    MenuAdjustToneMap->setEnabled(open && dialog(MenuAdjustToneMap));
    MenuAdjustEgalize->setEnabled(open);
    MenuAdjustAutoWB->setEnabled(open);

    for (QAction* item : MenuFilter->actions())
        item->setEnabled(open && !high && (item->isSeparator() || dialog(item)));

    const float zoom = view ? view->Zoom() : 1.0f;
    MenuViewZoomIn->setEnabled(open && ZoomInLevel(zoom) != 0);
    MenuViewZoomOut->setEnabled(open && ZoomOutLevel(zoom) != 0);
    MenuViewZoom100->setEnabled(open);
    MenuViewZoomAuto->setEnabled(open);

    // A dialog holds an open record: nothing may touch the document or its history meanwhile,
    // shortcuts included; the view may still zoom unless the dialog is exclusive.
    if (m_dialogActive) {
        for (QAction* item : m_commandActions)
            item->setEnabled(false);
        if (m_dialogKind == 1) {
            for (QAction* item : MenuView->actions())
                item->setEnabled(false);
        }
    }
    for (QMenu* menu : {MenuFile, MenuEdit, MenuImage, MenuAdjust, MenuFilter, MenuView, MenuHelp})
        menu->menuAction()->setEnabled(!m_dialogActive);
}

void TFrmMain::SetDialogMode(std::uint8_t kind, TMainDialogForm* dialog)
{
    m_dialogActive = dialog != nullptr;
    m_dialogKind = dialog ? kind : 0;
    UpdateToolbar(7);
    FileButtons->setEnabled(!m_dialogActive);
}

QPoint TFrmMain::HistogramPos() const { return {PictureLeft, PictureTop}; }

QPoint TFrmMain::ThumbnailPos() const
{
    return {PictureLeft, PictureTop + (ShowHistogram ? ThumbnailGap : 0)};
}

void TFrmMain::UpdateSidePanel(int mask)
{
    BeginWait();
    const TBmpHdr* image = GetImage();
    if ((mask & 2) && ShowHistogram) {
        FillWhite(m_histogramBitmap);
        if (image) {
            SetHistogramBins(static_cast<std::uint16_t>(m_histogramBitmap.Width() - 2));
            ComputeHistograms(image, MaxRectHdr, 777);
            std::int32_t x = 1;
            std::int32_t y = 1;
            DrawHistogram(&m_histogramBitmap, x, y, 0, m_histogramBitmap.Height() - 2);
        }
        m_histogramPicture = ToQImage(m_histogramBitmap);
        if (image) {
            QPainter painter(&m_histogramPicture);
            painter.setFont(font());
            painter.setPen(Qt::black);
            const QRect area(3, 1, m_histogramPicture.width() - 6, 14);
            for (const THistogramStatsLine& line : HistogramStatsLines(2, 0)) {
                painter.drawText(area, Qt::AlignLeft | Qt::AlignVCenter, Q(line.Left));
                painter.drawText(area, Qt::AlignRight | Qt::AlignVCenter, Q(line.Right));
            }
        }
    }
    if ((mask & 1) && ShowThumbnail) {
        FillWhite(m_thumbnailBitmap);
        if (image && !image->IsEmpty()) {
            const double w = m_thumbnailBitmap.Width() - 6;
            const double h = m_thumbnailBitmap.Height() - 6;
            const double scale = std::min(w / image->Width(), h / image->Height());
            const auto tw = std::max<std::int32_t>(
                1, static_cast<std::int32_t>(std::nearbyint(image->Width() * scale)));
            const auto th = std::max<std::int32_t>(
                1, static_cast<std::int32_t>(std::nearbyint(image->Height() * scale)));
            const std::int32_t left = (m_thumbnailBitmap.Width() - tw) / 2;
            const std::int32_t top = (m_thumbnailBitmap.Height() - th) / 2;
            const TRect target{left, top, left + tw, top + th};
            StretchDrawHdrToBitmap(
                image, MaxRectHdr, &m_thumbnailBitmap, target,
                TRect{0, 0, m_thumbnailBitmap.Width(), m_thumbnailBitmap.Height()}, 1.0f);
        }
        m_thumbnailPicture = ToQImage(m_thumbnailBitmap);
    }
    PnlSide->update();
    EndWait();
}

void TFrmMain::PaintSidePanel(QPainter& painter)
{
    const QColor shadow = ToQColor(SystemColorFlag | ColorBtnShadow);
    QRegion rest(PnlSide->rect());
    auto picture = [&](const QImage& image, QPoint at) {
        if (image.isNull())
            return;
        const QRect frame(at - QPoint(1, 1), image.size() + QSize(2, 2));
        painter.drawImage(at, image);
        painter.setPen(shadow);
        painter.drawRect(frame.adjusted(0, 0, -1, -1));
        rest -= QRegion(frame);
    };
    if (ShowHistogram)
        picture(m_histogramPicture, HistogramPos());
    if (ShowThumbnail)
        picture(m_thumbnailPicture, ThumbnailPos());
    painter.setClipRegion(rest);
    painter.fillRect(PnlSide->rect(), PnlSide->palette().color(QPalette::Window));
    painter.setClipping(false);
    painter.setPen(shadow);
    painter.drawLine(0, 0, 0, PnlSide->height() - 1);  // the panel's left edge
}

// ---------------------------------------------------------------------------------------------
// Zoom

void TFrmMain::ChooseZoom(std::int32_t level)
{
    TScrollBoxHdr* view = GetView();
    if (!view)
        return;
    if (level == 0)
        view->ZoomToFit(true);
    else
        view->SetZoom(static_cast<float>(level) / 1000.0f);
    m_zoomLevel = level;
    UpdateZoomBox();
    UpdateToolbar(2);
}

void TFrmMain::UpdateZoomBox()
{
    const TScrollBoxHdr* view = GetView();
    // Item 0 is "<Auto>", then one item per level.
    const auto level = std::find(ZoomLevels.begin(), ZoomLevels.end(), m_zoomLevel);
    ZoomBox->SetItemIndex(
        level == ZoomLevels.end() ? 0 : 1 + static_cast<int>(level - ZoomLevels.begin()));
    ZoomBox->setText(view ? ZoomBoxText(m_zoomLevel, view->Zoom()) : QString());
}

// ---------------------------------------------------------------------------------------------
// Files

void TFrmMain::Message(const QString& text, int kind)
{
    if (m_quiet) {
        std::fprintf(stderr, "%s\n", qPrintable(text));
        return;
    }
    MessageBox(text, static_cast<TMsgKind>(kind), MbOk);
}

bool TFrmMain::OpenFile(const std::string& fileName, bool quiet)
{
    if (IsDocumentOpen())
        return false;
    m_quiet = quiet;
    std::string name = fileName;
    BeginWait();
    try {
        if (IsFreeImageAvailable())
            OpenWithFreeImage(name, PnlClient);
        else
            OpenWithPlatform(name, PnlClient);
    } catch (...) {
        EndWait();
        m_quiet = false;
        throw;
    }
    if (TScrollBoxHdr* view = GetView()) {
        PnlClient->layout()->activate();  // fit into the laid-out view, not its default size
        view->ZoomToFit(true);
        m_zoomLevel = ZoomLevelOf(view->Zoom());
        // Ctrl+wheel follows the zoom box: its level, its text, its enabling in dialog mode.
        view->OnWheelZoom = [this, view](std::int32_t level, QPointF at) {
            if (!ZoomBox->isEnabled())
                return;
            view->SetZoomAt(static_cast<float>(level) / 1000.0f, at);
            m_zoomLevel = level;
            UpdateZoomBox();
            UpdateToolbar(2);
            UpdateStatus();
        };
    }
    UpdateZoomBox();
    UpdateStatus();
    UpdateSidePanel(3);
    UpdateToolbar(7);
    UpdateView();
    EndWait();
    const bool opened = IsDocumentOpen();
    if (FileErrorOccurred()) {
        Message(QString::asprintf(SUnableToLoad, name.c_str()),
                static_cast<int>(TMsgKind::mkError));
    } else if (opened) {
        if (m_quiet) {
            if (IsHighDynamic() && GetDocumentKind() == TImageKind::ikHighPrecision)
                ClearHighDynamic();
        } else {
            ShowOpenAdvice();
        }
        UpdateMenus();
    }
    m_quiet = false;
    return opened;
}

void TFrmMain::OpenDroppedFiles(const QStringList& fileNames)
{
    if (IsDocumentOpen() || fileNames.isEmpty())
        return;
    OpenFile(fileNames.front().toStdString());
}

bool TFrmMain::QueryCloseDocument() { return lumivex::QueryCloseDocument(); }

std::string TFrmMain::MenuLabel(const QAction* item)
{
    return item ? CleanCaption(item->text().toStdString()) : std::string();
}

void TFrmMain::SetDialogCommand(QAction* item, std::function<void()> show)
{
    if (show)
        m_dialogCommands[item] = std::move(show);
    else
        m_dialogCommands.erase(item);
    UpdateMenus();
}

void TFrmMain::RunDialogCommand(QAction* item)
{
    const auto found = m_dialogCommands.find(item);
    if (found == m_dialogCommands.end() || !IsDocumentOpen())
        return;
    // Merge, image size and free rotation open their own records (or none).
    if (item != MenuFileMerge && item != MenuImageResize && item != MenuImageRotate &&
        item != MenuEditFade) {
        BeginUndo(umFadable, MenuLabel(item));
        if (item == MenuAdjustToneMap && IsHighDynamic())
            GetUndoList()->CurrentItem()->SetTag(TagFade, -1);
    }
    found->second();
    UpdateMenus();
}

void TFrmMain::MenuFileOpenClick()
{
    if (!IsDocumentOpen())
        OpenFile({});
}

void TFrmMain::MenuFileMergeClick() { RunDialogCommand(MenuFileMerge); }

void TFrmMain::MenuFileSaveClick()
{
    if (!IsDocumentOpen())
        return;
    BeginWait();
    const bool saved = SaveDocument({}, AddHdSuffix(GetDocumentFileName()));
    if (saved) {
        UpdateStatus();
        UpdateToolbar(1);
    }
    EndWait();
}

void TFrmMain::MenuFileExportClick()
{
    if (!IsDocumentOpen())
        return;
    BeginWait();
    if (SaveDocument({}, AddHdSuffix(ChangeFileExt(GetDocumentFileName(), ".exr")))) {
        UpdateStatus();
        UpdateToolbar(1);
    }
    EndWait();
}

void TFrmMain::MenuFileCloseClick()
{
    if (QueryCloseDocument()) {
        ClearRepeat();
        UpdateStatus();
        UpdateSidePanel(3);
        UpdateToolbar(7);
        UpdateZoomBox();
    }
}

void TFrmMain::MenuEditUndoClick(bool fromMenu)
{
    if (CanUndo())
        StepHistory(fromMenu, UndoDocument);
}

void TFrmMain::MenuEditRedoClick(bool fromMenu)
{
    if (CanRedo())
        StepHistory(fromMenu, RedoDocument);
}

void TFrmMain::StepHistory(bool fromMenu, TUndoStep (*step)())
{
    if (m_dialogActive)
        return;
    if (fromMenu)
        UpdateView();
    BeginWait();
    const TUndoStep done = step();
    EndOperation();
    if (done.Mode == umWholeImage && !done.SizeChanged)
        UpdateStatus();
    AfterImageChange(done.SizeChanged);
    UpdateMenus();
}

void TFrmMain::MenuEditRepeatClick() { RunRepeat(); }

void TFrmMain::MenuEditClearUndoClick()
{
    ClearUndoHistories();
    UpdateToolbar(1);
}

// ---------------------------------------------------------------------------------------------
// Direct commands

void TFrmMain::MenuImageFlipHorzClick()
{
    RunOperation(MenuImageFlipHorz, umWholeImage, true, false,
                 [](TBmpHdr& image) { FlipHorzHdr(&image, MaxRectHdr); });
}

void TFrmMain::MenuImageFlipVertClick()
{
    RunOperation(MenuImageFlipVert, umWholeImage, true, false,
                 [](TBmpHdr& image) { FlipVertHdr(&image, MaxRectHdr); });
}

void TFrmMain::MenuImageRotate90cClick()
{
    RunOperation(MenuImageRotate90c, umWholeImage, true, true,
                 [](TBmpHdr& image) { Rotate90CWHdr(GetUndoImage(), &image); });
}

void TFrmMain::MenuImageRotate90aClick()
{
    RunOperation(MenuImageRotate90a, umWholeImage, true, true,
                 [](TBmpHdr& image) { Rotate90CCWHdr(GetUndoImage(), &image); });
}

void TFrmMain::MenuImageFlip180Click()
{
    RunOperation(MenuImageFlip180, umWholeImage, true, false,
                 [](TBmpHdr& image) { Rotate180Hdr(&image, MaxRectHdr); });
}

void TFrmMain::MenuImageDisableAlphaClick()
{
    RunOperation(MenuImageDisableAlpha, umWholeImage, false, false, [](TBmpHdr& image) {
        SetAlphaHdr(&image, MaxRectHdr, 1.0f);
        GetView()->SetTransparent(false);
    });
}

void TFrmMain::RunAutoCorrection(QAction* item, bool perChannel)
{
    RunOperation(item, umFadable, false, false, [perChannel](TBmpHdr& image) {
        if (IsHighDynamic())
            GetUndoList()->CurrentItem()->SetTag(TagFade, -1);
        if (perChannel)
            image.NormalizeChannels(GetWorkRect());
        else
            image.Normalize(GetWorkRect());
        ClearHighDynamic();
    });
}

void TFrmMain::MenuAdjustEgalizeClick() { RunAutoCorrection(MenuAdjustEgalize, false); }
void TFrmMain::MenuAdjustAutoWBClick() { RunAutoCorrection(MenuAdjustAutoWB, true); }

void TFrmMain::MenuAdjustNegativeClick()
{
    RunOperation(MenuAdjustNegative, umFadable, true, false,
                 [](TBmpHdr& image) { NegativeHdr(&image, GetWorkRect()); });
}

// ---------------------------------------------------------------------------------------------
// Help

void TFrmMain::MenuHelpWebClick() { QDesktopServices::openUrl(QUrl(U(WebSiteUrl))); }

void TFrmMain::MenuHelpAboutFreeImageClick()
{
    std::string version = FreeImageVersion();
    if (version.empty())
        version = "not installed";
    MessageBox(QString::asprintf(SAboutFreeImage, version.c_str()), TMsgKind::mkInformation, MbOk);
}

void TFrmMain::MenuHelpAboutLvxClick()
{
    TFrmAbout about(this, QStringLiteral(LUMIVEX_VERSION),
                    QString::fromStdString(FreeImageVersion()), QString::fromUtf8(WebSiteUrl));
    about.exec();
}

// ---------------------------------------------------------------------------------------------
// Window events

void TFrmMain::closeEvent(QCloseEvent* event)
{
    bool allow = true;
    Guarded([&] {
        if (TMainDialogForm* dialog = ActiveDialog()) {
            dialog->close();  // takes its preview back
            QCoreApplication::processEvents();
        }
        if (ActiveDialog()) {
            allow = false;
            return;
        }
        if (IsDocumentOpen()) {
            allow = QueryCloseDocument();
            if (allow) {
                ClearRepeat();
                UpdateStatus();
                UpdateSidePanel(3);
                UpdateToolbar(7);
            }
        }
    });
    if (allow)
        event->accept();
    else
        event->ignore();
}

void TFrmMain::dragEnterEvent(QDragEnterEvent* event)
{
    if (event->mimeData()->hasUrls())
        event->acceptProposedAction();
}

void TFrmMain::dropEvent(QDropEvent* event)
{
    QStringList names;
    for (const QUrl& url : event->mimeData()->urls()) {
        if (url.isLocalFile())
            names << url.toLocalFile();  // the whole name, however long
    }
    event->acceptProposedAction();
    Guarded([&] { OpenDroppedFiles(names); });
}

// ---------------------------------------------------------------------------------------------
// Window state

bool TFrmMain::IsMaximized() const { return isMaximized(); }
void TFrmMain::SetMaximized() { setWindowState(windowState() | Qt::WindowMaximized); }

TRect TFrmMain::BoundsRect() const
{
    const QRect r = isMaximized() ? normalGeometry() : geometry();
    return TRect{r.left(), r.top(), r.left() + r.width(), r.top() + r.height()};
}

void TFrmMain::SetBoundsRect(const TRect& bounds)
{
    setGeometry(bounds.Left, bounds.Top, bounds.Width(), bounds.Height());
}

std::vector<TRect> TFrmMain::ScreenRects() const
{
    std::vector<TRect> rects;
    for (const QScreen* screen : QGuiApplication::screens()) {
        const QRect g = screen->geometry();
        rects.push_back(TRect{g.left(), g.top(), g.left() + g.width(), g.top() + g.height()});
    }
    return rects;
}

}  // namespace lumivex
