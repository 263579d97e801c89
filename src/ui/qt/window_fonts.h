// The windows' fonts. The stations draw the parameter window in "MS Sans Serif" 11 pixels high
// and the settings dialog in "Tahoma" 13 pixels high; where those families are missing the
// nearest sans-serif family of the machine stands in at the same pixel size, so the captions
// keep the sizes the layout was made for.
#pragma once

#include <QFont>

class QAbstractButton;

namespace dorv::ui::qt {

QFont ParamWindowFont();
QFont SettingsDialogFont();
// `font` made bold, or bold and `pixelSize` high.
QFont Bold(QFont font, int pixelSize = 0);
// Where the machine has no font as narrow as the stations' a caption would be cut: the
// button's font goes down a pixel at a time until the caption fits its width less `margin`.
void FitCaption(QAbstractButton* button, int margin);

}  // namespace dorv::ui::qt
