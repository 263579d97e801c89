// DriverSettingsDialogWidget: the driver settings dialog ("Настройки драйвера ТРК DORV") on Qt,
// the drawing layer of TDriverSettingForm: it shows the controls the logic loads and returns
// what the engineer set. "Применить" closes it with OK; "Отмена", Esc and the close button
// with Cancel. It remembers where it stood between showings.
//
// Thread safety: user-interface thread only.
#pragma once

#include <QButtonGroup>
#include <QCheckBox>
#include <QDialog>
#include <QGroupBox>
#include <QPushButton>
#include <QRadioButton>

#include <array>

#include "ui/driver_settings_form.h"
#include "window_placement.h"

namespace dorv::ui::qt {

class DriverSettingsDialogWidget final : public QDialog, public DriverSettingsDialogView {
    Q_OBJECT
public:
    explicit DriverSettingsDialogWidget(QWidget* parent = nullptr);

    void LoadControls(const DriverSettingControls& controls) override;
    DialogResult ShowModal() override;
    DriverSettingControls Controls() const override;

    QRadioButton* PistStepItem(int index) const { return items_.at(static_cast<std::size_t>(index)); }
    QPushButton* ApplyButton() const { return apply_; }
    QPushButton* CancelButton() const { return cancel_; }

public slots:
    void done(int result) override;

protected:
    void showEvent(QShowEvent* event) override;

private:
    QCheckBox* AddCheckBox(const char* name, const char* caption, QRect geometry, bool wrap);

    QGroupBox* pistStepEdit_;
    std::array<QRadioButton*, TDriverSettingForm::kPistStepItems> items_{};
    QButtonGroup* pistStepGroup_;
    QCheckBox* freeStartEnabled_;
    QCheckBox* summaToLiter_;
    QCheckBox* forceStart_;
    QCheckBox* noVerifStart_;
    QCheckBox* specAutomatika_;
    QCheckBox* readDecimalTRK_;
    QPushButton* apply_;
    QPushButton* cancel_;
    WindowPlacement placement_{QStringLiteral("DriverSettingForm")};
    bool placed_ = false;
};

}  // namespace dorv::ui::qt
