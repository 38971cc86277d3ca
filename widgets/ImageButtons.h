#pragma once

// A row of flat buttons drawn with glyphs of an image list, with separators between them: the
// toolbar groups of the main window.

#include <QIcon>
#include <QString>
#include <QWidget>
#include <functional>
#include <vector>

class QToolButton;

namespace lumivex {

class TImageButtonGroup : public QWidget {
public:
    using TClickEvent = std::function<void(TImageButtonGroup& sender, int index)>;

    /// Glyphs of glyphSize pixels with margin pixels round them.
    explicit TImageButtonGroup(QWidget* parent = nullptr, int glyphSize = 19, int margin = 2);

    /// The glyphs the buttons show, by index; set before adding buttons.
    std::vector<QIcon> Images;

    /// Adds a button with a glyph of Images and a hint; answers its index.
    int AddButton(int glyph, const QString& hint = {});
    /// Adds a gap of width pixels; it takes an index as well.
    int AddSeparator(int width);
    int Count() const { return static_cast<int>(m_buttons.size()); }
    /// The button at index, null for a separator or an index out of range.
    QToolButton* Button(int index) const;

    bool ButtonEnabled(int index) const;
    void SetButtonEnabled(int index, bool enabled);
    QString Hint(int index) const;
    void SetHint(int index, const QString& hint);

    /// Runs with the index of the clicked button, separators counted.
    TClickEvent OnClick;

    int ButtonSize() const { return m_glyphSize + 2 * m_margin + 4; }

private:
    void Relayout();

    std::vector<QToolButton*> m_buttons;  // null for separators
    std::vector<int> m_widths;
    int m_glyphSize;
    int m_margin;
};

}  // namespace lumivex
