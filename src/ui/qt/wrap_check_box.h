// A check box whose caption wraps within its width, as two of the settings dialog's captions
// must. text() stays the whole caption.
#pragma once

#include <QCheckBox>

namespace dorv::ui::qt {

class WrapCheckBox final : public QCheckBox {
    Q_OBJECT
public:
    WrapCheckBox(const QString& text, QWidget* parent);

protected:
    void paintEvent(QPaintEvent* event) override;
    // The whole box, caption included, toggles it.
    bool hitButton(const QPoint& pos) const override;
};

}  // namespace dorv::ui::qt
