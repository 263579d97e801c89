// The host's menu over Qt and the driver's hook into it: the adapter as AttachMenu sees it, the
// item added once, and its click opening the parameter window modally for the latest driver;
// destroying that driver releases the window.
#include <QMenuBar>
#include <QTimer>

#include "driver/module.h"
#include "qt_menu.h"
#include "qt_rig.h"
#include "ui/qt/window_hooks.h"

using namespace dorv::test;

namespace {

const QString kItemCaption = QStringLiteral("Программирование параметров (Dorv 5000)");

struct HostMenu {
    QMenuBar bar;
    QMenu* dispenser;
    QtMenuItem root{&bar};
    QtMenuItemFactory factory;
    explicit HostMenu(const QString& dispenserCaption = QStringLiteral("&ТРК")) {
        bar.addMenu(QStringLiteral("&Файл"));
        dispenser = bar.addMenu(dispenserCaption);
        bar.addMenu(QStringLiteral("&Справка"));
    }
};

}  // namespace

class MenuTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() {
        UseTestSettings();
        RegisterWindowHooks();
    }
    void init() { dorv::module::ResetMenuPendingForTests(); }

    void adapterListsTheTopLevelMenusWithTheirAccelerators() {
        HostMenu menu;
        QCOMPARE(menu.root.GetCount(), 3);
        QCOMPARE(QString::fromUtf8(menu.root.GetItem(1)->GetCaption()), QString("&ТРК"));
        QCOMPARE(menu.root.GetItem(1), menu.root.GetItem(1));  // one adapter per item
        QCOMPARE(menu.root.GetItem(3), nullptr);
    }

    void attachMenuAddsTheItemOnce() {
        EmulatorRig rig;
        HostMenu menu;
        rig.Driver().AttachMenu(&menu.root, &menu.factory);
        rig.Driver().AttachMenu(&menu.root, &menu.factory);
        QCOMPARE(menu.dispenser->actions().size(), 1);
        QAction* item = menu.dispenser->actions().front();
        QCOMPARE(item->text(), kItemCaption);
        QCOMPARE(item->statusTip(), kItemCaption);
        QVERIFY(item->shortcut().isEmpty());
    }

    void aDispenserMenuWithoutTheAcceleratorGetsNothing() {
        EmulatorRig rig;
        HostMenu menu(QStringLiteral("ТРК"));
        rig.Driver().AttachMenu(&menu.root, &menu.factory);
        rig.Driver().AttachMenu(&menu.root, &menu.factory);
        QVERIFY(menu.dispenser->actions().isEmpty());
    }

    void clickingTheItemOpensTheWindowModallyAndDestroyingTheDriverReleasesIt() {
        EmulatorRig rig;
        HostMenu menu;
        rig.Driver().AttachMenu(&menu.root, &menu.factory);
        QAction* item = menu.dispenser->actions().front();
        rig.Driver().SetDecimalsPending(1, 1, false);
        bool shownWithCatalogue = false;
        QTimer::singleShot(0, [&shownWithCatalogue] {
            ParamFrameWidget* window = ModuleParamWindow();
            shownWithCatalogue = window && window->isVisible() && window->isModal() && window->Logic().Catalogue();
            if (window) window->reject();
        });
        item->trigger();  // returns when the window has closed
        QVERIFY(shownWithCatalogue);
        QVERIFY(rig.Driver().DecimalsPending(1, 1));  // the next price reads the scales again
        QPointer<ParamFrameWidget> window = ModuleParamWindow();
        QVERIFY(window);
        rig.DriverSlot().reset();
        QVERIFY(!window);
        QCOMPARE(ModuleParamWindow(), nullptr);
    }

    void shortcutsTranslateToKeySequences_data() {
        QTest::addColumn<int>("shortcut");
        QTest::addColumn<QKeySequence>("keys");
        QTest::newRow("none") << 0 << QKeySequence();
        QTest::newRow("F9") << 0x78 << QKeySequence(Qt::Key_F9);
        QTest::newRow("Ctrl+P") << (0x4000 | 'P') << QKeySequence(Qt::CTRL | Qt::Key_P);
        QTest::newRow("Alt+Shift+2") << (0x8000 | 0x2000 | '2') << QKeySequence(Qt::ALT | Qt::SHIFT | Qt::Key_2);
    }
    void shortcutsTranslateToKeySequences() {
        QFETCH(int, shortcut);
        QFETCH(QKeySequence, keys);
        QCOMPARE(ShortCutToKeySequence(shortcut), keys);
    }
};

QTEST_MAIN(MenuTest)
#include "menu_test.moc"
