#pragma once

// The main window: menus, toolbar, status bar and side panel, the dispatch of every command and
// the bracket every edit runs in (busy state, history record, operation, refresh, repeat).

#include <QImage>
#include <QMainWindow>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "app/Settings.h"
#include "core/BmpHdr.h"
#include "platform/Bitmap.h"
#include "platform/SysColors.h"

class QAction;
class QLabel;
class QMenu;
class QToolButton;

namespace lumivex {

class TDropDownEdit;
class TImageButtonGroup;
class TMainDialogForm;
struct TUndoStep;

/// clBtnFace blended 20 % towards clBtnShadow, computed at start-up (the filter sliders use it).
inline TColor SliderShadeColor = 0;
/// a + (b - a) x factor per channel, rounded; factor <= 0 gives a, >= 1 gives b. System colours
/// are resolved first.
TColor BlendColors(TColor a, TColor b, double factor);

/// The product's web page (Help > Official web site).
inline constexpr const char* WebSiteUrl = "https://github.com/lumivex/lumivex-hd";

class TFrmMain : public QMainWindow, private TWindowStateTarget {
public:
    explicit TFrmMain(QWidget* parent = nullptr);
    ~TFrmMain() override;

    // Menus and their items, named as the commands.
    QMenu *MenuFile, *MenuEdit, *MenuImage, *MenuAdjust, *MenuFilter, *MenuView, *MenuHelp;
    QAction *MenuFileOpen, *MenuFileMerge, *MenuFileSave, *MenuFileExport, *MenuFileClose,
        *MenuFileExit;
    QAction *MenuEditUndo, *MenuEditRedo, *MenuEditFade, *MenuEditRepeat, *MenuEditClearUndo;
    QAction *MenuImageFlipHorz, *MenuImageFlipVert, *MenuImageRotate90c, *MenuImageRotate90a,
        *MenuImageFlip180, *MenuImageResize, *MenuImageRotate, *MenuImageDisableAlpha;
    QAction *MenuAdjustToneMap, *MenuAdjustEgalize, *MenuAdjustAutoWB, *MenuAdjustLuminosity,
        *MenuAdjustContrast, *MenuAdjustLevelsLinear, *MenuAdjustSaturation, *MenuAdjustHue,
        *MenuAdjustHistogram, *MenuAdjustGamma, *MenuAdjustSCurve, *MenuAdjustLevelsCurve,
        *MenuAdjustNegative;
    QAction *MenuFilterGray, *MenuFilterColoredLayer, *MenuFilterSoften, *MenuFilterBlur,
        *MenuFilterGaussBlur, *MenuFilterUnsharpMask, *MenuFilterMicroDetails;
    QAction *MenuViewZoomIn, *MenuViewZoomOut, *MenuViewZoom100, *MenuViewZoomAuto;
    QAction *MenuHelpWeb, *MenuHelpAboutFreeImage, *MenuHelpAboutLvx;

    QWidget* PnlTop;
    QWidget* PnlSide;
    /// Holds the document's view.
    QWidget* PnlClient;
    TDropDownEdit* ZoomBox;
    /// Open, save, (separator), undo, redo: index 2 is the separator.
    TImageButtonGroup* FileButtons;
    /// Zoom in, zoom out, original size, auto zoom.
    TImageButtonGroup* ViewButtons;
    bool ShowHistogram = true;
    bool ShowThumbnail = true;
    std::string SettingsFile;

    // The operation protocol.
    void BeginWait();
    void EndWait();
    int WaitCount() const { return m_waitCount; }
    void BeginDirect(QAction* item);
    void EndDirect(QAction* item);
    void BeginGeometry(QAction* item);
    void EndGeometry(QAction* item, bool sizeChanged);
    void EndOperation();
    void AfterImageChange(bool sizeChanged);
    /// 0 start, 1 progress, 2 end.
    void ProgressHook(int mode, int percent);
    /// Runs an edit inside the bracket (mode umWholeImage: BeginGeometry, else BeginDirect).
    /// An exception or an abort (Escape, ProgressAborted) puts the image back from the record
    /// and drops it, registers nothing, and an exception is reported in a message.
    void RunOperation(QAction* item, std::uint8_t mode, bool repeatable, bool sizeChanges,
                      const std::function<void(TBmpHdr& image)>& operation);
    /// Runs a command body so that no exception leaves the event handler: the busy state unwinds
    /// to where it was and the failure is reported.
    void Guarded(const std::function<void()>& body);

    void SetStatusText(const QString& text);
    QString StatusText(int panel) const;
    void UpdateStatus();
    /// Bit 1 history buttons and save, bit 2 zoom controls, bit 4 open button.
    void UpdateToolbar(int mask);
    /// Bit 1 thumbnail, bit 2 histogram.
    void UpdateSidePanel(int mask);
    /// The enabled state and captions of every item, as the menus' own handlers set them when
    /// they open; kept current after every change so that shortcuts follow the same rules.
    void UpdateMenus();
    const QImage& HistogramPicture() const { return m_histogramPicture; }
    const QImage& ThumbnailPicture() const { return m_thumbnailPicture; }
    QPoint HistogramPos() const;
    QPoint ThumbnailPos() const;

    /// Opens a file as the new document; an empty name asks the user. quiet prints messages
    /// to stderr instead of showing them (the --screenshot run).
    bool OpenFile(const std::string& fileName, bool quiet = false);
    /// Opens the first of the dropped files when no document is open.
    void OpenDroppedFiles(const QStringList& fileNames);
    bool QueryCloseDocument();
    static std::string MenuLabel(const QAction* item);
    /// The dialog a dialog command shows; commands without one stay disabled.
    void SetDialogCommand(QAction* item, std::function<void()> show);

    // Command handlers.
    void MenuFileOpenClick();
    void MenuFileMergeClick();
    void MenuFileSaveClick();
    void MenuFileExportClick();
    void MenuFileCloseClick();
    void MenuEditUndoClick(bool fromMenu = true);
    void MenuEditRedoClick(bool fromMenu = true);
    void MenuEditRepeatClick();
    void MenuEditClearUndoClick();
    void MenuImageFlipHorzClick();
    void MenuImageFlipVertClick();
    void MenuImageRotate90cClick();
    void MenuImageRotate90aClick();
    void MenuImageFlip180Click();
    void MenuImageDisableAlphaClick();
    void MenuAdjustEgalizeClick();
    void MenuAdjustAutoWBClick();
    void MenuAdjustNegativeClick();
    void MenuHelpWebClick();
    void MenuHelpAboutFreeImageClick();
    void MenuHelpAboutLvxClick();
    /// Level 0 fits the window; otherwise thousandths.
    void ChooseZoom(std::int32_t level);
    std::int32_t ZoomLevel() const { return m_zoomLevel; }

protected:
    void closeEvent(QCloseEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    friend class TSidePanel;

    void BuildMenus();
    void BuildToolbar();
    void BuildStatusBar();
    void SetDialogMode(std::uint8_t kind, TMainDialogForm* dialog);
    void RunDialogCommand(QAction* item);
    void RunAutoCorrection(QAction* item, bool perChannel);
    /// Undo or redo through the operation protocol (refused while a dialog holds a record).
    void StepHistory(bool fromMenu, TUndoStep (*step)());
    void UpdateZoomBox();
    void UpdateCaption();
    void PaintSidePanel(QPainter& painter);
    void Message(const QString& text, int kind);

    // TWindowStateTarget
    bool IsMaximized() const override;
    void SetMaximized() override;
    TRect BoundsRect() const override;
    void SetBoundsRect(const TRect& bounds) override;
    std::vector<TRect> ScreenRects() const override;

    int m_waitCount = 0;
    QString m_progressRestoreText;
    QString m_progressFormat;
    bool m_inputBlocked = false;
    std::vector<QLabel*> m_panels;
    TBitmap m_histogramBitmap;
    TBitmap m_thumbnailBitmap;
    QImage m_histogramPicture;
    QImage m_thumbnailPicture;
    std::int32_t m_zoomLevel = 0;
    bool m_dialogActive = false;
    std::uint8_t m_dialogKind = 0;
    bool m_quiet = false;
    std::map<QAction*, std::function<void()>> m_dialogCommands;
    std::vector<QAction*> m_commandActions;  // every item a dialog's record must be safe from
};

}  // namespace lumivex
