// The three in-cell editors of the "Запись" column: WriteValueEdit and WriteValueEdit2
// (numeric spin edits with decimals, increment and bounds; the second only for pairs) and
// WriteValueCB (a list-only drop-down). The window logic says which are shown, how they are
// set up and where they stand (EditorLayout); this class applies that and reports Enter and
// the focus leaving them.
//
// Thread safety: user-interface thread only.
#pragma once

#include <QComboBox>
#include <QDoubleSpinBox>
#include <QObject>
#include <QPointer>

#include "ui/view_types.h"

namespace dorv::ui::qt {

class WriteEditors final : public QObject {
    Q_OBJECT
public:
    // Created hidden on `home` (Panel2).
    explicit WriteEditors(QWidget* home);

    // Shows, hides, sets up and places the editors. The first placement moves them onto
    // `surface` (the tab control), in whose coordinates the layout's rectangles are. When an
    // editor that had the focus is hidden and no other takes it, `fallbackFocus` gets it.
    void Apply(const EditorLayout& layout, QWidget* surface, QWidget* fallbackFocus);
    EditorValues Values() const;
    // Moves the shown editors so that the first stands at `topLeft` (the grid scrolled under
    // them).
    void MoveShownTo(QPoint topLeft);
    EditorId Focused() const;

    QDoubleSpinBox* Edit() const { return edit_; }
    QDoubleSpinBox* Edit2() const { return edit2_; }
    QComboBox* Combo() const { return combo_; }

signals:
    // Enter (or the keypad's Enter) in any of the editors.
    void enterPressed();
    // The focus went from an editor to another control of the window.
    void exited();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    static void ApplySpin(QDoubleSpinBox* spin, const SpinEditor& setup);
    void Watch(QWidget* editor);
    QWidget* EditorOf(QObject* object) const;

    QDoubleSpinBox* edit_;
    QDoubleSpinBox* edit2_;
    QComboBox* combo_;
    bool applying_ = false;
};

}  // namespace dorv::ui::qt
