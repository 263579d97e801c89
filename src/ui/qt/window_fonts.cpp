#include "window_fonts.h"

#include <QAbstractButton>
#include <QFontMetrics>
#include <QStringList>

namespace dorv::ui::qt {
namespace {

constexpr int kParamWindowPixels = 11;  // "MS Sans Serif", height -11
constexpr int kDialogPixels = 13;       // "Tahoma", height -13

void InstallSubstitutes() {
    static const bool installed = [] {
        const QStringList sans = {"Microsoft Sans Serif", "Liberation Sans", "Arial", "DejaVu Sans"};
        QFont::insertSubstitutions("MS Sans Serif", sans);
        QFont::insertSubstitutions("Tahoma", sans);
        return true;
    }();
    (void)installed;
}

QFont Make(const char* family, int pixels) {
    InstallSubstitutes();
    QFont font(family);
    font.setStyleHint(QFont::SansSerif);
    font.setPixelSize(pixels);
    return font;
}

}  // namespace

QFont ParamWindowFont() { return Make("MS Sans Serif", kParamWindowPixels); }
QFont SettingsDialogFont() { return Make("Tahoma", kDialogPixels); }

QFont Bold(QFont font, int pixelSize) {
    font.setBold(true);
    if (pixelSize > 0) font.setPixelSize(pixelSize);
    return font;
}

void FitCaption(QAbstractButton* button, int margin) {
    QFont font = button->font();
    while (font.pixelSize() > 8 && QFontMetrics(font).horizontalAdvance(button->text()) > button->width() - margin) {
        font.setPixelSize(font.pixelSize() - 1);
    }
    button->setFont(font);
}

}  // namespace dorv::ui::qt
