// The read-all and write-all runs seen from the window: the grid fills row by row while the
// window's thread keeps running, the line and address follow the spin edits, the write run's
// status text arrives, and closing or destroying the window during a run is safe.
#include "qt_rig.h"
#include "ui/texts.h"

using namespace dorv::test;

namespace {

constexpr int kFirstNumberedRow = 8;
constexpr int kNumberedRows = 50;
constexpr int kResolutionRow = 11;   // number 4
constexpr int kMinimumDoseRow = 28;  // number 23, minimum dose

DriverBinding Gated(dorv::TVM30& driver, std::shared_ptr<GatedTransport>& gate, int holdAtRead) {
    DriverBinding binding = DriverBinding::For(&driver);
    gate = std::make_shared<GatedTransport>(binding.transport, holdAtRead);
    binding.transport = gate;
    return binding;
}

// Grid rows (logic's numbering) of the repaints the window received one row at a time.
QSet<int> RepaintedRows(const QSignalSpy& dataChanged) {
    QSet<int> rows;
    for (const QList<QVariant>& args : dataChanged) {
        const QModelIndex first = args.at(0).toModelIndex(), last = args.at(1).toModelIndex();
        if (first.row() == last.row()) rows.insert(first.row() + 1);
    }
    return rows;
}

}  // namespace

class RunsTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { UseTestSettings(); }

    void readAllFillsTheGridRowByRowWhileTheWindowKeepsRunning() {
        EmulatorRig rig;
        rig.Line().SetParam(1, 4, 321);
        std::shared_ptr<GatedTransport> gate;
        DriverBinding binding = Gated(rig.Driver(), gate, 11);
        ShownWindow w(std::move(binding), gate);
        w.SelectTab(2);
        QSignalSpy repaints(&w.Grid().Model(), &QAbstractItemModel::dataChanged);
        w->Controls().button1->click();
        // Ten rows arrive and are repainted, each on its own, while the eleventh read is held.
        QTRY_COMPARE_WITH_TIMEOUT(w.ReadTexts(), 10, kLongWaitMs);
        QTRY_COMPARE_WITH_TIMEOUT(RepaintedRows(repaints).size(), 10, kLongWaitMs);
        const QSet<int> repainted = RepaintedRows(repaints);
        QVERIFY(repainted.contains(kFirstNumberedRow) && repainted.contains(kFirstNumberedRow + 9));
        QVERIFY(w->ReadRunActive());
        QCOMPARE(w.Cell(kResolutionRow, kReadColumn), QString("321"));
        // The window's own thread still runs its timers and takes clicks meanwhile.
        QTimer tick;
        QSignalSpy ticked(&tick, &QTimer::timeout);
        tick.start(1);
        QVERIFY(ticked.wait(kLongWaitMs));
        w->Controls().button1->click();  // a second run is not started
        gate->Open();
        QTRY_COMPARE_WITH_TIMEOUT(w.ReadTexts(), kNumberedRows, kLongWaitMs);
        QTRY_VERIFY_WITH_TIMEOUT(!w->ReadRunActive(), kLongWaitMs);
        QCOMPARE(gate->Reads(), kNumberedRows);
        for (int row = kFirstNumberedRow; row < kFirstNumberedRow + kNumberedRows; ++row)
            QVERIFY2(w.Cell(row, kReadColumn) != QString(text::kReadFailed), qPrintable(QString::number(row)));
    }

    void theRunFollowsTheAddressSpinEditBetweenEntries() {
        EmulatorRig rig;
        rig.Line().SetParam(1, 23, 7);
        rig.Line().SetParam(2, 23, 9);
        std::shared_ptr<GatedTransport> gate;
        DriverBinding binding = Gated(rig.Driver(), gate, 12);
        ShownWindow w(std::move(binding), gate);
        w.SelectTab(2);
        w->Controls().button1->click();
        QTRY_COMPARE_WITH_TIMEOUT(w.ReadTexts(), 11, kLongWaitMs);
        w->Controls().addrEdit->setValue(2);  // the held read and the rest go to controller 2
        gate->Open();
        QTRY_VERIFY_WITH_TIMEOUT(!w->ReadRunActive(), kLongWaitMs);
        const auto& dose = w->Logic().Catalogue()->GetParameter(kMinimumDoseRow - 1);
        QCOMPARE(w.Cell(kMinimumDoseRow, kReadColumn), QString::fromStdString(dose.RawToText(9, w->Logic().Locale())));
    }

    void writeAllSendsTheValuesAndReportsTheLastEntryInTheStatusBar() {
        EmulatorRig rig;
        QCOMPARE(rig.Line().Param(1, 24), std::optional<std::int64_t>(40040));
        ShownWindow w(DriverBinding::For(&rig.Driver()));
        w.SelectTab(2);
        w->Controls().writeBtn->click();
        QTRY_VERIFY_WITH_TIMEOUT(!w->WriteRunActive(), kLongWaitMs);
        QTRY_VERIFY_WITH_TIMEOUT(w->StatusText().endsWith(" 51"), kLongWaitMs);
        QCOMPARE(rig.Line().Param(1, 24), std::optional<std::int64_t>(0));
    }

    void closingDuringAReadLeavesTheNextShowingUntouched() {
        EmulatorRig rig;
        std::shared_ptr<GatedTransport> gate;
        DriverBinding binding = Gated(rig.Driver(), gate, 5);
        ShownWindow w(std::move(binding), gate);
        w.SelectTab(2);
        w->Controls().button1->click();
        QTRY_COMPARE_WITH_TIMEOUT(w.ReadTexts(), 4, kLongWaitMs);
        w->reject();
        w->show();
        QCOMPARE(w.ReadTexts(), 0);
        QVERIFY(!w->Logic().Button1Click());  // the earlier run still holds the line
        gate->Open();
        QTRY_VERIFY_WITH_TIMEOUT(!w->ReadRunActive(), kLongWaitMs);
        QCOMPARE(gate->Reads(), kNumberedRows);
        QCOMPARE(w.ReadTexts(), 0);  // its results went with the closed showing
    }

    void destroyingTheWindowDuringARunStopsIt() {
        EmulatorRig rig;
        auto w = std::make_unique<ShownWindow>(DriverBinding::For(&rig.Driver()));
        w->SelectTab(2);
        (*w)->Controls().button1->click();
        (*w)->Controls().writeBtn->click();
        QTRY_VERIFY_WITH_TIMEOUT(w->ReadTexts() >= 1, kLongWaitMs);
        // Both runs stop between two entries and are joined before any control goes.
        w.reset();
        QVERIFY(rig.Line().Param(1, 4).has_value());  // the line is still served
    }
};

QTEST_MAIN(RunsTest)
#include "runs_test.moc"
