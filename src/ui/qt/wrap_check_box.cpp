#include "wrap_check_box.h"

#include <QStyleOptionButton>
#include <QStylePainter>

namespace dorv::ui::qt {

WrapCheckBox::WrapCheckBox(const QString& text, QWidget* parent) : QCheckBox(text, parent) {}

void WrapCheckBox::paintEvent(QPaintEvent*) {
    QStylePainter painter(this);
    QStyleOptionButton option;
    initStyleOption(&option);
    option.text.clear();
    painter.drawControl(QStyle::CE_CheckBox, option);
    // The caption's place: right of the indicator, as the style puts a one-line caption.
    QStyleOptionButton withText;
    initStyleOption(&withText);
    QRect textRect = style()->subElementRect(QStyle::SE_CheckBoxContents, &withText, this);
    textRect.setRight(rect().right());
    textRect.setTop(rect().top());
    textRect.setBottom(rect().bottom());
    painter.setPen(palette().color(isEnabled() ? QPalette::Active : QPalette::Disabled, QPalette::WindowText));
    painter.drawText(textRect, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextWordWrap, text());
}

bool WrapCheckBox::hitButton(const QPoint& pos) const { return rect().contains(pos); }

}  // namespace dorv::ui::qt
