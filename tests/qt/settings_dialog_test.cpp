// The driver settings dialog: its form, the radio group for every PistStep, and the round trip
// from the window's button to the live driver and cnf.INI.
#include <QFile>
#include <QTimer>

#include "qt_rig.h"
#include "ui/qt/driver_settings_dialog.h"
#include "ui/texts.h"

using namespace dorv::test;

namespace {

// Runs `edit` on the settings dialog once it shows (inside the button's modal loop).
void WhenTheDialogShows(std::function<void(DriverSettingsDialogWidget&)> edit) {
    QTimer::singleShot(0, [edit] {
        if (auto* dialog = qobject_cast<DriverSettingsDialogWidget*>(QApplication::activeModalWidget())) edit(*dialog);
    });
}

QString SettingsFile(const EmulatorRig& rig) {
    QFile file(QString::fromStdString(rig.Dir().File("cnf.INI")));
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

}  // namespace

class SettingsDialogTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { UseTestSettings(); }

    void checkBoxesCarryTheirCaptionsWhereTheFormPutsThem_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("caption");
        QTest::addColumn<QPoint>("position");
        QTest::newRow("free start") << "FreeStartEnabledEdit" << text::kFreeStartCaption << QPoint(8, 64);
        QTest::newRow("money to litres") << "SummaToLiterEdit" << text::kSummaToLiterCaption << QPoint(8, 115);
        QTest::newRow("forced start") << "ForceStartEdit" << text::kForceStartCaption << QPoint(8, 138);
        QTest::newRow("no start check") << "NoVerifStart" << text::kNoVerifStartCaption << QPoint(8, 161);
        QTest::newRow("other make") << "SpecAutomatika" << text::kSpecAutomatikaCaption << QPoint(8, 200);
        QTest::newRow("decimals") << "ReadDecimalTRK" << text::kReadDecimalCaption << QPoint(8, 223);
    }
    void checkBoxesCarryTheirCaptionsWhereTheFormPutsThem() {
        QFETCH(QString, name);
        QFETCH(QString, caption);
        QFETCH(QPoint, position);
        DriverSettingsDialogWidget dialog;
        auto* box = dialog.findChild<QCheckBox*>(name);
        QVERIFY(box);
        QCOMPARE(box->text(), caption);
        QCOMPARE(box->pos(), position);
    }

    void dialogHasItsCaptionSizeFontAndButtons() {
        DriverSettingsDialogWidget dialog;
        QCOMPARE(dialog.windowTitle(), QString(text::kSettingsCaption));
        QCOMPARE(dialog.minimumSize(), QSize(306, 277));
        QCOMPARE(dialog.maximumSize(), QSize(306, 277));
        QCOMPARE(dialog.font().pixelSize(), 13);
        QCOMPARE(dialog.ApplyButton()->text(), QString(text::kApplyButton));
        QCOMPARE(dialog.CancelButton()->text(), QString(text::kCancelButton));
        QCOMPARE(dialog.ApplyButton()->size(), QSize(108, 25));
        QCOMPARE(dialog.PistStepItem(0)->text(), QString(text::kPistStepItems[0]));
        QCOMPARE(dialog.findChild<QGroupBox*>("PistStepEdit")->geometry(), QRect(8, 8, 233, 49));
    }

    void radioGroupShowsPistStep_data() {
        QTest::addColumn<int>("pistStep");
        QTest::addColumn<int>("checked");
        QTest::newRow("0: none") << 0 << -1;
        QTest::newRow("1: continuous") << 1 << 0;
        QTest::newRow("2: alternating") << 2 << 1;
        QTest::newRow("3: stays on the last item") << 3 << 1;
    }
    void radioGroupShowsPistStep() {
        QFETCH(int, pistStep);
        QFETCH(int, checked);
        DriverSettingsDialogWidget dialog;
        dialog.LoadControls({.pistStepIndex = 0});  // a selection the next load must clear
        dorv::DriverSettings settings;
        settings.pistStep = static_cast<std::uint8_t>(pistStep);
        dialog.LoadControls(TDriverSettingForm::ControlsFor(settings));
        QCOMPARE(dialog.Controls().pistStepIndex, checked);
        QCOMPARE(dialog.PistStepItem(0)->isChecked(), checked == 0);
    }

    void applyChangesTheLiveDriverAndCnfIni() {
        EmulatorRig rig;
        ShownWindow w(DriverBinding::For(&rig.Driver()));
        bool shown = false;
        WhenTheDialogShows([&shown](DriverSettingsDialogWidget& dialog) {
            shown = true;
            dialog.findChild<QCheckBox*>("SpecAutomatika")->click();
            dialog.PistStepItem(1)->click();
            dialog.ApplyButton()->click();
        });
        w->Controls().driverSettingBtn->click();
        QVERIFY(shown);
        QVERIFY(rig.Driver().Settings().specAvtomatika);
        QCOMPARE(rig.Driver().Settings().pistStep, std::uint8_t{2});
        QVERIFY(SettingsFile(rig).contains("[Dorv]"));
        QVERIFY(SettingsFile(rig).contains(QRegularExpression("SpecAvtomatika\\s*=\\s*(1|true|True)")));
        QVERIFY(SettingsFile(rig).contains(QRegularExpression("PistStep\\s*=\\s*2")));
    }

    void cancelChangesNothing() {
        EmulatorRig rig;
        ShownWindow w(DriverBinding::For(&rig.Driver()));
        const dorv::DriverSettings before = rig.Driver().Settings();
        WhenTheDialogShows([](DriverSettingsDialogWidget& dialog) {
            dialog.findChild<QCheckBox*>("ForceStartEdit")->click();
            dialog.CancelButton()->click();
        });
        w->Controls().driverSettingBtn->click();
        QCOMPARE(rig.Driver().Settings().forceStart, before.forceStart);
        QVERIFY(SettingsFile(rig).isEmpty());
        // The next showing loads the driver's settings again, not the abandoned tick.
        WhenTheDialogShows([&before](DriverSettingsDialogWidget& dialog) {
            QCOMPARE(dialog.findChild<QCheckBox*>("ForceStartEdit")->isChecked(), before.forceStart);
            dialog.reject();
        });
        w->Controls().driverSettingBtn->click();
    }
};

QTEST_MAIN(SettingsDialogTest)
#include "settings_dialog_test.moc"
