// Single reads and writes from the window against the emulator: the double-click, the in-cell
// editors by row type, the confirmation, the status bar, and the hints.
#include <QMouseEvent>
#include <QScrollBar>
#include <QToolTip>

#include "qt_rig.h"
#include "ui/texts.h"

using namespace dorv::test;

namespace {

constexpr int kResolutionRow = 11;  // number 4, three digits, no decimals
constexpr int kValveRow = 16;       // number 9, two decimals, 0..2,00 l
constexpr int kBranchesRow = 29;    // number 24, a pair
constexpr int kManualModeRow = 8;   // number 0, a choice
constexpr int kFuelTempRow = 41;    // number 36, a temperature
constexpr int kSensorRow = 42;      // number 37, the sensor switch
constexpr int kHeaterRow = 43;      // number 38, the heater temperature
constexpr int kBacklightRow = 2;    // a common command: no read-back

}  // namespace

class TransferTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { UseTestSettings(); }

    void doubleClickReadsOnlyTheReadCell_data() {
        QTest::addColumn<int>("column");
        QTest::addColumn<int>("exchanges");
        QTest::addColumn<QString>("readText");
        QTest::newRow("read cell reads") << int(kReadColumn) << 1 << "123";
        QTest::newRow("write cell reads nothing") << int(kWriteColumn) << 0 << "";
        QTest::newRow("name cell reads nothing") << int(kNameColumn) << 0 << "";
    }
    void doubleClickReadsOnlyTheReadCell() {
        QFETCH(int, column);
        QFETCH(int, exchanges);
        QFETCH(QString, readText);
        EmulatorRig rig;
        rig.Line().SetParam(1, 4, 123);
        ShownWindow w(DriverBinding::For(&rig.Driver()));
        w.SelectTab(2);
        const int before = rig.Exchanges();
        w.DoubleClick(kResolutionRow, column);
        QCOMPARE(rig.Exchanges() - before, exchanges);
        QCOMPARE(w.Cell(kResolutionRow, kReadColumn), readText);
    }

    void doubleClickOnACommonCommandShowsReadErrorWithoutExchange() {
        EmulatorRig rig;
        ShownWindow w(DriverBinding::For(&rig.Driver()));
        const int before = rig.Exchanges();
        w.DoubleClick(kBacklightRow, kReadColumn);
        QCOMPARE(rig.Exchanges(), before);
        QCOMPARE(w.Cell(kBacklightRow, kReadColumn), QString(text::kReadFailed));
    }

    void editorsFollowTheRowsType_data() {
        QTest::addColumn<int>("row");
        QTest::addColumn<bool>("pair");
        QTest::addColumn<bool>("list");
        QTest::addColumn<int>("decimals");
        QTest::addColumn<double>("minimum");
        QTest::addColumn<double>("maximum");
        QTest::newRow("number with two decimals") << kValveRow << false << false << 2 << 0.0 << 2.0;
        QTest::newRow("pair: two editors") << kBranchesRow << true << false << 0 << 0.0 << 999999999.0;
        QTest::newRow("temperature") << kFuelTempRow << false << false << 0 << -99.0 << 200.0;
        QTest::newRow("heater temperature") << kHeaterRow << false << false << 0 << -20.0 << 0.0;
        QTest::newRow("choice: the list") << kManualModeRow << false << true << 0 << 0.0 << 0.0;
        QTest::newRow("sensor switch: the list") << kSensorRow << false << true << 0 << 0.0 << 0.0;
    }
    void editorsFollowTheRowsType() {
        QFETCH(int, row);
        QFETCH(bool, pair);
        QFETCH(bool, list);
        QFETCH(int, decimals);
        QFETCH(double, minimum);
        QFETCH(double, maximum);
        ShownWindow w({});
        w.SelectTab(2);
        QVERIFY(w.SelectWriteCell(row));
        const WriteEditors& e = w->Editors();
        QCOMPARE(e.Combo()->isVisible(), list);
        QCOMPARE(e.Edit()->isVisible(), !list);
        QCOMPARE(e.Edit2()->isVisible(), pair);
        if (list) {
            QCOMPARE(e.Combo()->count(), 2);
            QVERIFY(e.Combo()->hasFocus());
            return;
        }
        QCOMPARE(e.Edit()->decimals(), decimals);
        QCOMPARE(e.Edit()->minimum(), minimum);
        QCOMPARE(e.Edit()->maximum(), maximum);
        QVERIFY(e.Edit()->hasFocus());
        // The editor stands in the write cell, 5 pixels in from its sides.
        const QRect cell = w.Grid().CellRectIn(w->Controls().tabControl1, {kWriteColumn, row});
        QCOMPARE(e.Edit()->x(), cell.left() + 5);
        if (pair) {
            QCOMPARE(e.Edit2()->maximum(), 999.0);
            QVERIFY(e.Edit2()->x() > e.Edit()->x() + e.Edit()->width());
        }
    }

    void focusMovingBetweenThePairsHalvesKeepsBoth() {
        ShownWindow w({});
        w.SelectTab(2);
        QVERIFY(w.SelectWriteCell(kBranchesRow));
        w->Editors().Edit2()->setFocus(Qt::TabFocusReason);
        QVERIFY(w->Editors().Edit()->isVisible() && w->Editors().Edit2()->isVisible());
        w->Controls().comPortEdit->setFocus(Qt::TabFocusReason);
        QVERIFY(!w->Editors().Edit()->isVisible() && !w->Editors().Edit2()->isVisible());
    }

    void editorsStayOnTheirCellWhileTheGridScrolls() {
        ShownWindow w({});
        w.SelectTab(2);
        QVERIFY(w.SelectWriteCell(kValveRow));
        QScrollBar* bar = w.Grid().verticalScrollBar();
        bar->setValue(bar->value() + 30);
        const QRect cell = w.Grid().CellRectIn(w->Controls().tabControl1, {kWriteColumn, kValveRow});
        QCOMPARE(w->Editors().Edit()->pos(), QPoint(cell.left() + 5, (2 * cell.top() + cell.height()) / 2 - 8));
        bar->setValue(bar->maximum());  // the cell leaves the view, and the editor with it
        QVERIFY(!w->Editors().Edit()->isVisible());
    }

    void confirmedWriteReachesTheControllerAndTurnsTheBarGreen() {
        EmulatorRig rig;
        ShownWindow w(DriverBinding::For(&rig.Driver()));
        w.SelectTab(2);
        QVERIFY(w.SelectWriteCell(kValveRow));
        w->Editors().Edit()->setValue(1.25);
        QTest::keyClick(w->Editors().Edit(), Qt::Key_Return);
        QCOMPARE(w.dialogs->messages.size(), std::size_t{1});
        const MessageRequest& asked = w.dialogs->messages.front();
        QCOMPARE(asked.text, std::string(text::kConfirmWriteText));
        QCOMPARE(asked.caption, std::string(text::kConfirmWriteCaption));
        QVERIFY(asked.buttons == MessageButtons::OkCancel && asked.icon == MessageIcon::Question);
        QCOMPARE(rig.Line().Param(1, 9), std::optional<std::int64_t>(125));
        QCOMPARE(w->StatusText(), QString(text::kWriteDone));
        QCOMPARE(w->StatusBarColour(), QColor(0, 128, 0));
        const auto& valve = w->Logic().Catalogue()->GetParameter(kValveRow - 1);
        QCOMPARE(w.Cell(kValveRow, kReadColumn), QString::fromStdString(valve.RawToText(125, w->Logic().Locale())));
        // Timer1 gives the bar its colour back and leaves the text.
        QTRY_COMPARE_WITH_TIMEOUT(w->StatusBarColour(), w->palette().color(QPalette::Button), kLongWaitMs);
        QCOMPARE(w->StatusText(), QString(text::kWriteDone));
    }

    void writeAnsweredCancelSendsNothing() {
        EmulatorRig rig;
        ShownWindow w(DriverBinding::For(&rig.Driver()));
        w.dialogs->answer = MessageResult::Cancel;
        w.SelectTab(2);
        QVERIFY(w.SelectWriteCell(kValveRow));
        w->Editors().Edit()->setValue(1.5);
        const int before = rig.Exchanges();
        QTest::keyClick(w->Editors().Edit(), Qt::Key_Enter);
        QCOMPARE(w.dialogs->messages.size(), std::size_t{1});
        QCOMPARE(rig.Exchanges(), before);
        QCOMPARE(rig.Line().Param(1, 9), std::optional<std::int64_t>(0));
        QVERIFY(w->StatusText().isEmpty());
    }

    void pairWriteSendsTheHighPartTimesAThousandPlusTheLow() {
        EmulatorRig rig;
        ShownWindow w(DriverBinding::For(&rig.Driver()));
        w.SelectTab(2);
        QVERIFY(w.SelectWriteCell(kBranchesRow));
        w->Editors().Edit()->setValue(3);
        w->Editors().Edit2()->setValue(250);
        QTest::keyClick(w->Editors().Edit2(), Qt::Key_Return);
        QCOMPARE(rig.Line().Param(1, 24), std::optional<std::int64_t>(3250));
    }

    void refusedWriteOfAnUnknownAddressTurnsTheBarRed() {
        EmulatorRig rig;
        ShownWindow w(DriverBinding::For(&rig.Driver()));
        w->Controls().addrEdit->setValue(9);  // nobody answers there
        w.SelectTab(2);
        QVERIFY(w.SelectWriteCell(kResolutionRow));
        QTest::keyClick(w->Editors().Edit(), Qt::Key_Return);
        QCOMPARE(w->StatusBarColour(), QColor(255, 0, 0));
    }

    void hintFollowsTheMouseOverReadAndWriteCells_data() {
        QTest::addColumn<int>("column");
        QTest::addColumn<QString>("hint");
        QTest::newRow("read cell") << int(kReadColumn) << text::kReadCellHint;
        QTest::newRow("write cell") << int(kWriteColumn) << text::kWriteCellHint;
        QTest::newRow("name cell: none") << int(kNameColumn) << "";
    }
    void hintFollowsTheMouseOverReadAndWriteCells() {
        QFETCH(int, column);
        QFETCH(QString, hint);
        ShownWindow w({});
        const QPoint at = w.Grid().visualRect(w.Grid().model()->index(2, column)).center();
        QMouseEvent move(QEvent::MouseMove, at, w.Grid().viewport()->mapToGlobal(at), Qt::NoButton, Qt::NoButton, Qt::NoModifier);
        QApplication::sendEvent(w.Grid().viewport(), &move);
        QCOMPARE(QString::fromStdString(w.Grid().Hint()), hint);
        if (!hint.isEmpty()) QCOMPARE(QToolTip::text(), hint);
    }
};

QTEST_MAIN(TransferTest)
#include "transfer_test.moc"
