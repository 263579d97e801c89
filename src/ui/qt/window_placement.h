// Where a window stood when it was last closed, kept between showings and between runs of the
// host (the user's Qt settings, organisation "Dorv5000"), so an engineer finds the settings
// dialog where they left it. The parameter window opens centred on the screen instead.
#pragma once

#include <QPoint>
#include <QString>

class QWidget;

namespace dorv::ui::qt {

class WindowPlacement {
public:
    explicit WindowPlacement(QString key) : key_(std::move(key)) {}

    // Moves `window` to the remembered place; false (nothing moved) when no place is remembered
    // or the place is on no screen any more.
    bool Restore(QWidget& window) const;
    void Save(const QWidget& window) const;

    // Centres `window` on its screen (every showing of the parameter window).
    static void CentreOnScreen(QWidget& window);

private:
    QString key_;
};

}  // namespace dorv::ui::qt
