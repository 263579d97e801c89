#include "write_editors.h"

#include <QApplication>
#include <QFocusEvent>
#include <QKeyEvent>
#include <QLineEdit>

#include "qt_strings.h"

namespace dorv::ui::qt {
namespace {

QDoubleSpinBox* MakeSpin(QWidget* home, const char* name) {
    auto* spin = new QDoubleSpinBox(home);
    spin->setObjectName(name);
    spin->setFixedSize(121, 21);
    spin->setKeyboardTracking(true);
    spin->setAccelerated(true);
    spin->hide();
    return spin;
}

}  // namespace

WriteEditors::WriteEditors(QWidget* home)
    : QObject(home), edit_(MakeSpin(home, "WriteValueEdit")), edit2_(MakeSpin(home, "WriteValueEdit2")), combo_(new QComboBox(home)) {
    combo_->setObjectName("WriteValueCB");
    combo_->setEditable(false);
    combo_->setFixedSize(717, 21);
    combo_->hide();
    for (QWidget* editor : {static_cast<QWidget*>(edit_), static_cast<QWidget*>(edit2_), static_cast<QWidget*>(combo_)}) Watch(editor);
}

void WriteEditors::Watch(QWidget* editor) {
    editor->installEventFilter(this);
    // The spin edits type into a line edit of their own; Enter and the focus may land there.
    for (QLineEdit* inner : editor->findChildren<QLineEdit*>()) inner->installEventFilter(this);
}

QWidget* WriteEditors::EditorOf(QObject* object) const {
    for (QWidget* editor : {static_cast<QWidget*>(edit_), static_cast<QWidget*>(edit2_), static_cast<QWidget*>(combo_)}) {
        if (object == editor) return editor;
        if (auto* widget = qobject_cast<QWidget*>(object); widget && editor->isAncestorOf(widget)) return editor;
    }
    return nullptr;
}

void WriteEditors::ApplySpin(QDoubleSpinBox* spin, const SpinEditor& setup) {
    if (!setup.visible) {
        spin->hide();
        return;
    }
    // Decimals, increment and bounds first, then the value, which the bounds may clamp.
    spin->setDecimals(setup.valueType == ValueType::Integer ? 0 : setup.decimals);
    spin->setSingleStep(setup.increment);
    spin->setRange(setup.minValue, setup.maxValue);
    spin->setValue(setup.value);
    spin->setFixedSize(ToQRect(setup.rect).size().expandedTo(QSize(1, 1)));
    spin->move(setup.rect.left, setup.rect.top);
    spin->show();
    spin->raise();
}

void WriteEditors::Apply(const EditorLayout& layout, QWidget* surface, QWidget* fallbackFocus) {
    applying_ = true;
    const bool hadFocus = Focused() != EditorId::None;
    for (QWidget* editor : {static_cast<QWidget*>(edit_), static_cast<QWidget*>(edit2_), static_cast<QWidget*>(combo_)}) {
        if (layout.AnyVisible() && editor->parentWidget() != surface) editor->setParent(surface);
    }
    ApplySpin(edit_, layout.edit);
    ApplySpin(edit2_, layout.edit2);
    if (layout.combo.visible) {
        combo_->clear();
        for (const auto& item : layout.combo.items) combo_->addItem(Q(item));
        combo_->setEnabled(layout.combo.enabled);
        combo_->setCurrentIndex(layout.combo.itemIndex);
        combo_->setFixedSize(ToQRect(layout.combo.rect).size().expandedTo(QSize(1, 1)));
        combo_->move(layout.combo.rect.left, layout.combo.rect.top);
        combo_->show();
        combo_->raise();
    } else {
        combo_->hide();
    }
    switch (layout.focus) {
        case EditorId::WriteValueEdit:
            edit_->setFocus(Qt::OtherFocusReason);
            edit_->selectAll();
            break;
        case EditorId::WriteValueEdit2:
            edit2_->setFocus(Qt::OtherFocusReason);
            edit2_->selectAll();
            break;
        case EditorId::WriteValueCB: combo_->setFocus(Qt::OtherFocusReason); break;
        default:
            if (hadFocus && fallbackFocus) fallbackFocus->setFocus(Qt::OtherFocusReason);
            break;
    }
    applying_ = false;
}

void WriteEditors::MoveShownTo(QPoint topLeft) {
    QWidget* first = combo_->isVisible() ? static_cast<QWidget*>(combo_) : static_cast<QWidget*>(edit_);
    if (!first->isVisible()) return;
    const QPoint delta = topLeft - first->pos();
    for (QWidget* editor : {static_cast<QWidget*>(edit_), static_cast<QWidget*>(edit2_), static_cast<QWidget*>(combo_)})
        if (editor->isVisible()) editor->move(editor->pos() + delta);
}

EditorValues WriteEditors::Values() const {
    // Text typed but not yet taken over counts, as it does when the operator presses Enter.
    edit_->interpretText();
    edit2_->interpretText();
    return {edit_->value(), edit2_->value(), combo_->currentIndex()};
}

EditorId WriteEditors::Focused() const {
    QWidget* focus = QApplication::focusWidget();
    if (!focus) return EditorId::None;
    QWidget* editor = EditorOf(focus);
    if (editor == edit_) return EditorId::WriteValueEdit;
    if (editor == edit2_) return EditorId::WriteValueEdit2;
    if (editor == combo_) return EditorId::WriteValueCB;
    return EditorId::None;
}

bool WriteEditors::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Return || key == Qt::Key_Enter) {
            emit enterPressed();
            return true;
        }
    } else if (event->type() == QEvent::FocusOut && !applying_) {
        const auto reason = static_cast<QFocusEvent*>(event)->reason();
        // A message box, another window or the list's own drop-down taking the focus is no
        // leaving of the editor; nor is the focus moving inside one editor.
        const bool elsewhere = reason != Qt::ActiveWindowFocusReason && reason != Qt::PopupFocusReason;
        QWidget* focus = QApplication::focusWidget();
        if (elsewhere && (!focus || EditorOf(focus) != EditorOf(watched))) emit exited();
    }
    return QObject::eventFilter(watched, event);
}

}  // namespace dorv::ui::qt
