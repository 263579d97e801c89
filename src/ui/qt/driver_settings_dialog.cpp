#include "driver_settings_dialog.h"

#include <QShowEvent>

#include "qt_strings.h"
#include "ui/texts.h"
#include "window_fonts.h"
#include "wrap_check_box.h"

namespace dorv::ui::qt {
namespace {

constexpr int kWidth = 306;
constexpr int kHeight = 277;
constexpr QPoint kDesignedPosition(450, 368);
constexpr int kOneLineWidth = kWidth - 16;  // check boxes sized to their caption on the stations
constexpr int kOneLineHeight = 17;
constexpr QSize kButtonSize(108, 25);
constexpr int kIndicatorWidth = 24;  // the box and its gap before the caption

}  // namespace

DriverSettingsDialogWidget::DriverSettingsDialogWidget(QWidget* parent) : QDialog(parent) {
    setObjectName("DriverSettingForm");
    setWindowTitle(Q(text::kSettingsCaption));
    setFont(SettingsDialogFont());
    setFixedSize(kWidth, kHeight);
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint |
                   Qt::MSWindowsFixedSizeDialogHint);

    pistStepEdit_ = new QGroupBox(Q(text::kPistStepCaption), this);
    pistStepEdit_->setObjectName("PistStepEdit");
    pistStepEdit_->setGeometry(8, 8, 233, 49);
    pistStepGroup_ = new QButtonGroup(this);
    for (int i = 0; i < TDriverSettingForm::kPistStepItems; ++i) {
        auto* item = new QRadioButton(Q(text::kPistStepItems[static_cast<std::size_t>(i)]), pistStepEdit_);
        item->setObjectName(QStringLiteral("PistStepItem%1").arg(i));
        item->setGeometry(8, 15 + 16 * i, 221, 16);
        pistStepGroup_->addButton(item, i);
        items_[static_cast<std::size_t>(i)] = item;
    }

    freeStartEnabled_ = AddCheckBox("FreeStartEnabledEdit", text::kFreeStartCaption, {8, 64, 249, 44}, true);
    summaToLiter_ = AddCheckBox("SummaToLiterEdit", text::kSummaToLiterCaption, {8, 115, kOneLineWidth, kOneLineHeight}, false);
    forceStart_ = AddCheckBox("ForceStartEdit", text::kForceStartCaption, {8, 138, kOneLineWidth, kOneLineHeight}, false);
    noVerifStart_ = AddCheckBox("NoVerifStart", text::kNoVerifStartCaption, {8, 161, 276, 33}, true);
    specAutomatika_ = AddCheckBox("SpecAutomatika", text::kSpecAutomatikaCaption, {8, 200, kOneLineWidth, kOneLineHeight}, false);
    readDecimalTRK_ = AddCheckBox("ReadDecimalTRK", text::kReadDecimalCaption, {8, 223, kOneLineWidth, kOneLineHeight}, false);

    // The buttons sit on a borderless panel at the bottom right.
    auto* panel = new QWidget(this);
    panel->setObjectName("Panel1");
    panel->setGeometry(kWidth - 2 * kButtonSize.width() - 20, kHeight - kButtonSize.height() - 12, 2 * kButtonSize.width() + 20,
                       kButtonSize.height() + 8);
    apply_ = new QPushButton(Q(text::kApplyButton), panel);
    apply_->setObjectName("BitBtn2");
    apply_->setGeometry(QRect(QPoint(0, 0), kButtonSize));
    apply_->setDefault(true);
    cancel_ = new QPushButton(Q(text::kCancelButton), panel);
    cancel_->setObjectName("BitBtn1");
    cancel_->setGeometry(QRect(QPoint(kButtonSize.width() + 8, 0), kButtonSize));
    cancel_->setAutoDefault(false);
    connect(apply_, &QPushButton::clicked, this, &QDialog::accept);
    connect(cancel_, &QPushButton::clicked, this, &QDialog::reject);
}

QCheckBox* DriverSettingsDialogWidget::AddCheckBox(const char* name, const char* caption, QRect geometry, bool wrap) {
    QCheckBox* box = wrap ? new WrapCheckBox(Q(caption), this) : new QCheckBox(Q(caption), this);
    box->setObjectName(name);
    box->setGeometry(geometry);
    if (!wrap) FitCaption(box, kIndicatorWidth);
    return box;
}

void DriverSettingsDialogWidget::LoadControls(const DriverSettingControls& c) {
    // An index outside the items selects none; the group has to stop being exclusive for a moment
    // to let its last checked button go.
    pistStepGroup_->setExclusive(false);
    for (std::size_t i = 0; i < items_.size(); ++i) items_[i]->setChecked(static_cast<int>(i) == c.pistStepIndex);
    pistStepGroup_->setExclusive(true);
    freeStartEnabled_->setChecked(c.freeStartEnabled);
    summaToLiter_->setChecked(c.summaToLiter);
    forceStart_->setChecked(c.forceStart);
    noVerifStart_->setChecked(c.noVerifStart);
    specAutomatika_->setChecked(c.specAutomatika);
    readDecimalTRK_->setChecked(c.readDecimalTRK);
}

DialogResult DriverSettingsDialogWidget::ShowModal() { return exec() == QDialog::Accepted ? DialogResult::Ok : DialogResult::Cancel; }

DriverSettingControls DriverSettingsDialogWidget::Controls() const {
    DriverSettingControls c;
    c.pistStepIndex = pistStepGroup_->checkedId();
    c.freeStartEnabled = freeStartEnabled_->isChecked();
    c.summaToLiter = summaToLiter_->isChecked();
    c.forceStart = forceStart_->isChecked();
    c.noVerifStart = noVerifStart_->isChecked();
    c.specAutomatika = specAutomatika_->isChecked();
    c.readDecimalTRK = readDecimalTRK_->isChecked();
    return c;
}

void DriverSettingsDialogWidget::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (event->spontaneous() || placed_) return;
    if (!placement_.Restore(*this)) move(kDesignedPosition);
    placed_ = true;
}

void DriverSettingsDialogWidget::done(int result) {
    placement_.Save(*this);
    QDialog::done(result);
}

}  // namespace dorv::ui::qt
