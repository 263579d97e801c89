// The parameter window's form: controls where the stations have them, captions, fonts, tabs
// and the rows each shows, keyboard, closing, and what a new showing keeps.
#include <QHeaderView>

#include "qt_rig.h"
#include "ui/texts.h"

using namespace dorv::test;

class ParamWindowTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { UseTestSettings(); }

    void controlsStandWhereTheFormPutsThem_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QRect>("geometry");
        QTest::newRow("ComPortEdit") << "ComPortEdit" << QRect(96, 8, 89, 22);
        QTest::newRow("AddrEdit") << "AddrEdit" << QRect(320, 8, 89, 22);
        QTest::newRow("edIDNumber") << "edIDNumber" << QRect(320, 32, 89, 22);
        QTest::newRow("Button1") << "Button1" << QRect(8, 55, 209, 25);
        QTest::newRow("SaveBtn") << "SaveBtn" << QRect(437, 6, 194, 25);
        QTest::newRow("LoadBtn") << "LoadBtn" << QRect(437, 37, 194, 25);
        QTest::newRow("WriteBtn") << "WriteBtn" << QRect(437, 68, 194, 25);
        QTest::newRow("ToolBar1") << "ToolBar1" << QRect(631, 4, 40, 66);
        QTest::newRow("DriverSettingBtn") << "DriverSettingBtn" << QRect(693, 4, 116, 46);
        QTest::newRow("BitBtn1") << "BitBtn1" << QRect(693, 68, 108, 25);
        QTest::newRow("TabControl1") << "TabControl1" << QRect(1, 86, 815, 599);
        QTest::newRow("Panel1 above the status bar") << "Panel1" << QRect(0, 0, 817, 686);
        QTest::newRow("StatusBar1 19 high") << "StatusBar1" << QRect(0, 686, 817, 19);
    }
    void controlsStandWhereTheFormPutsThem() {
        QFETCH(QString, name);
        QFETCH(QRect, geometry);
        ParamFrameWidget window;
        auto* control = window.findChild<QWidget*>(name);
        QVERIFY2(control, qPrintable(name));
        QCOMPARE(control->geometry(), geometry);
    }

    void captionsAndBoldButtons_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("caption");
        QTest::addColumn<bool>("bold");
        QTest::newRow("read all") << "Button1" << text::kReadAllButton << true;
        QTest::newRow("save") << "SaveBtn" << text::kSaveButton << true;
        QTest::newRow("load") << "LoadBtn" << text::kLoadButton << true;
        QTest::newRow("write all") << "WriteBtn" << text::kWriteAllButton << true;
        QTest::newRow("close") << "BitBtn1" << text::kCloseButton << false;
        QTest::newRow("line label") << "Label1" << text::kComPortLabel << false;
        QTest::newRow("address label") << "Label2" << text::kAddressLabel << false;
        QTest::newRow("ID label") << "IDLabel" << text::kIdNumberLabel << false;
    }
    void captionsAndBoldButtons() {
        QFETCH(QString, name);
        QFETCH(QString, caption);
        QFETCH(bool, bold);
        ParamFrameWidget window;
        auto* control = window.findChild<QWidget*>(name);
        QVERIFY(control);
        QCOMPARE(control->property("text").toString(), caption);
        QCOMPARE(control->font().bold(), bold);
    }

    void windowHasFixedClientAreaCaptionAndFont() {
        ParamFrameWidget window;
        QCOMPARE(window.windowTitle(), QString(text::kWindowCaption));
        QCOMPARE(window.minimumSize(), QSize(817, 705));
        QCOMPARE(window.maximumSize(), QSize(817, 705));
        QCOMPARE(window.font().pixelSize(), 11);
        const auto* settings = window.findChild<QPushButton*>("DriverSettingBtn");
        QCOMPARE(settings->accessibleName(), QString(text::kDriverSettingsButton));
        QVERIFY(settings->font().bold());
        QCOMPARE(settings->findChild<QLabel*>("caption")->text(), QString(text::kDriverSettingsButton));
    }

    void gridHasTheFormsColumnsHeadersAndBottomTabs() {
        ParamFrameWidget window;
        const int widths[] = {38, 422, 76, 64, 169};
        for (int c = 0; c < 5; ++c) {
            QCOMPARE(window.ColumnWidth(c), widths[c]);
            QCOMPARE(window.Grid().model()->headerData(c, Qt::Horizontal).toString(),
                     QString(text::kColumnHeaders[static_cast<std::size_t>(c)]));
        }
        const QTabBar* tabs = window.Controls().tabs;
        QCOMPARE(tabs->shape(), QTabBar::RoundedSouth);
        QCOMPARE(tabs->count(), 3);
        for (int t = 0; t < 3; ++t) QCOMPARE(tabs->tabText(t), QString(text::kTabs[static_cast<std::size_t>(t)]));
        QCOMPARE(tabs->currentIndex(), 0);
    }

    void toolBarHoldsCopyAbovePasteWithTheirHints() {
        ShownWindow window({});
        const auto& c = window->Controls();
        QCOMPARE(c.toolBar1->actions(), (QList<QAction*>{c.copyTool, c.pasteTool}));
        QCOMPARE(c.copyTool->toolTip(), QString(text::kCopyHint));
        QCOMPARE(c.pasteTool->toolTip(), QString(text::kPasteHint));
        QCOMPARE(c.pasteTool->text(), QString(text::kPasteCaption));
        QVERIFY(!c.copyTool->icon().isNull() && !c.pasteTool->icon().isNull());
        QCOMPARE(c.toolBar1->widgetForAction(c.copyTool)->size(), QSize(28, 28));
        QVERIFY(c.toolBar1->widgetForAction(c.copyTool)->y() < c.toolBar1->widgetForAction(c.pasteTool)->y());
    }

    void eachTabShowsItsOwnRows_data() {
        QTest::addColumn<int>("tab");
        QTest::addColumn<int>("shownRows");
        QTest::addColumn<int>("firstRow");
        QTest::addColumn<bool>("idShown");
        QTest::newRow("common commands") << 0 << 6 << 2 << false;
        QTest::newRow("address programming, with the ID field") << 1 << 1 << 1 << true;
        QTest::newRow("numbered parameters") << 2 << 50 << 8 << false;
    }
    void eachTabShowsItsOwnRows() {
        QFETCH(int, tab);
        QFETCH(int, shownRows);
        QFETCH(int, firstRow);
        QFETCH(bool, idShown);
        ShownWindow w({});
        w.SelectTab(tab);
        // Entering the grid makes the tab's first row current.
        QVERIFY(QTest::qWaitForWindowActive(w.window.get()));
        w.Grid().setFocus();
        int shown = 0, first = 0;
        for (int row = 1; row <= 57; ++row) {
            if (w.Grid().isRowHidden(row - 1)) continue;
            ++shown;
            if (!first) first = row;
            QVERIFY(w.Grid().rowHeight(row - 1) >= 20);
        }
        QCOMPARE(shown, shownRows);
        QCOMPARE(first, firstRow);
        QTRY_COMPARE(w.window->CurrentCell().row, firstRow);
        QCOMPARE(w->Controls().edIdNumber->isVisible(), idShown);
        QCOMPARE(w->Controls().idLabel->isVisible(), idShown);
    }

    void keyboardNeverEntersHiddenRows() {
        ShownWindow w({});
        w.SelectTab(2);
        w.Grid().setFocus();
        w->SetCurrentCell({0, 8});
        QTest::keyClick(w.Grid().viewport(), Qt::Key_Up);
        QCOMPARE(w->CurrentCell().row, 8);  // row 7 belongs to the common commands
        QTest::keyClick(w.Grid().viewport(), Qt::Key_Down);
        QCOMPARE(w->CurrentCell().row, 9);
    }

    void escapeAndAltXCloseTheWindow_data() {
        QTest::addColumn<int>("key");
        QTest::addColumn<int>("modifiers");
        QTest::newRow("Esc") << int(Qt::Key_Escape) << int(Qt::NoModifier);
        QTest::newRow("Alt+X") << int(Qt::Key_X) << int(Qt::AltModifier);
    }
    void escapeAndAltXCloseTheWindow() {
        QFETCH(int, key);
        QFETCH(int, modifiers);
        ShownWindow w({});
        QVERIFY(QTest::qWaitForWindowExposed(w.window.get()));
        QTest::keyClick(w.window.get(), Qt::Key(key), Qt::KeyboardModifiers(modifiers));
        QTRY_VERIFY(!w->isVisible());
        QVERIFY(!w->Logic().Catalogue());  // the showing's catalogue went with it
    }

    void aNewShowingKeepsLineAddressAndTabButStartsFresh() {
        ShownWindow w({});
        w->Controls().comPortEdit->setValue(3);
        w->Controls().addrEdit->setValue(5);
        w.SelectTab(2);
        w->Logic().Catalogue()->GetParameter(10).SetValue(77);
        w->reject();
        w->show();
        QCOMPARE(w->Controls().comPortEdit->value(), 3);
        QCOMPARE(w->Controls().addrEdit->value(), 5);
        QCOMPARE(w->SelectedTab(), 2);
        QVERIFY(w.Grid().isRowHidden(0));
        QCOMPARE(w.Cell(11, kWriteColumn), QString("0"));
    }

    // Every showing opens centred on the screen, wherever the window was left.
    void everyShowingOpensCentredOnTheScreen() {
        {
            ShownWindow w({});
            w->move(40, 50);
            w->reject();
        }
        ShownWindow again({});
        const QPoint centre = again->screen()->availableGeometry().center();
        QVERIFY2((again->frameGeometry().center() - centre).manhattanLength() <= 1,
                 qPrintable(QString("at %1,%2").arg(again->x()).arg(again->y())));
        again->move(40, 50);
        again->reject();
        again->show();
        QVERIFY((again->frameGeometry().center() - centre).manhattanLength() <= 1);
    }

    // A value wider than its field shows as the number, in red.
    void aValueWiderThanItsFieldShowsRed() {
        ShownWindow w({});
        w.SelectTab(2);
        w->Logic().Catalogue()->GetParameter(19).SetValue(12345);
        w->Logic().Catalogue()->GetParameter(18).SetValue(7);
        QCOMPARE(w.Cell(20, kWriteColumn), QString("12345"));
        const QModelIndex wide = w.Grid().model()->index(19, kWriteColumn);
        QCOMPARE(wide.data(Qt::ForegroundRole).value<QBrush>().color(), QColor(Qt::red));
        QVERIFY(!w.Grid().model()->index(18, kWriteColumn).data(Qt::ForegroundRole).isValid());
    }
};

QTEST_MAIN(ParamWindowTest)
#include "param_window_test.moc"
