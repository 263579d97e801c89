// Buffer files from the window: save and load through the file dialogs, copy and paste through
// the fixed buffer across two showings, and the dialogs and message boxes as an engineer sees
// them.
#include <QFile>
#include <QTimer>

#include "platform/settings_dir.h"
#include "qt_rig.h"
#include "ui/texts.h"

using namespace dorv::test;

namespace {

constexpr int kResolutionPosition = 10;  // number 4, row 11
constexpr int kBacklightPosition = 1;    // a common command

QString FileText(const std::string& path) {
    QFile file(QString::fromStdString(path));
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

}  // namespace

class FilesTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { UseTestSettings(); }

    void saveAndLoadGoThroughTheDialogs() {
        TempDir dir;
        ShownWindow w({});
        w.dialogs->fileName = dir.File("pump3.par");
        w->Logic().Catalogue()->GetParameter(kResolutionPosition).SetValue(77);
        w->Controls().saveBtn->click();
        QVERIFY(FileText(dir.File("pump3.par")).contains("[Parametr]"));
        QVERIFY(FileText(dir.File("pump3.par")).contains("4=77"));
        w->Logic().Catalogue()->GetParameter(kResolutionPosition).SetValue(5);
        w->Controls().loadBtn->click();
        QCOMPARE(w.Cell(kResolutionPosition + 1, kWriteColumn), QString("77"));

        QCOMPARE(w.dialogs->saveDialogs.size(), std::size_t{1});
        const FileDialogRequest& save = w.dialogs->saveDialogs.front();
        QCOMPARE(save.title, std::string(text::kSaveDialogTitle));
        QCOMPARE(save.defaultName, std::string(text::kDialogDefaultName));
        QCOMPARE(save.defaultExtension, std::string("par"));
        QCOMPARE(save.initialFolder, dorv::platform::ParameterBufferDirectory());
        QCOMPARE(w.dialogs->openDialogs.size(), std::size_t{1});
        QCOMPARE(w.dialogs->openDialogs.front().title, std::string(text::kOpenDialogTitle));
        QCOMPARE(w.dialogs->openDialogs.front().defaultExtension, std::string("tar"));
    }

    void cancelledDialogsChangeNothing() {
        TempDir dir;
        ShownWindow w({});
        w->Logic().Catalogue()->GetParameter(kResolutionPosition).SetValue(9);
        w->Controls().saveBtn->click();
        w->Controls().loadBtn->click();
        QCOMPARE(w.Cell(kResolutionPosition + 1, kWriteColumn), QString("9"));
        QVERIFY(QDir(QString::fromStdString(dir.Path())).entryList(QDir::Files).isEmpty());
    }

    void copyAndPasteCarryTheValuesIntoALaterShowing() {
        TempDir dir;
        ShownWindow w({});
        w->Logic().Catalogue()->GetParameter(kResolutionPosition).SetValue(42);
        w->Logic().Catalogue()->GetParameter(kBacklightPosition).SetValue(1);
        w->Controls().copyTool->trigger();
        w->reject();
        w->show();
        QCOMPARE(w.Cell(kResolutionPosition + 1, kWriteColumn), QString("0"));
        w->Controls().pasteTool->trigger();
        QCOMPARE(w.Cell(kResolutionPosition + 1, kWriteColumn), QString("42"));
        QCOMPARE(w->Logic().Catalogue()->GetParameter(kBacklightPosition).Value(), std::int64_t{0});
        QVERIFY(QFile::exists(QString::fromStdString(dorv::platform::ParameterBufferPath())));
    }

    void fileDialogsOpenWithTheRequestedTitleNameExtensionAndFolder_data() {
        QTest::addColumn<int>("mode");
        QTest::addColumn<QString>("title");
        QTest::addColumn<QString>("extension");
        QTest::newRow("save") << int(QFileDialog::AcceptSave) << text::kSaveDialogTitle << "par";
        QTest::newRow("open") << int(QFileDialog::AcceptOpen) << text::kOpenDialogTitle << "tar";
    }
    void fileDialogsOpenWithTheRequestedTitleNameExtensionAndFolder() {
        QFETCH(int, mode);
        QFETCH(QString, title);
        QFETCH(QString, extension);
        TempDir dir;
        const std::string folder = dir.File("Ximor/Settings");
        const auto dialog = MakeFileDialog(nullptr, {title.toStdString(), text::kDialogDefaultName, extension.toStdString(), folder},
                                           QFileDialog::AcceptMode(mode));
        QCOMPARE(dialog->windowTitle(), title);
        QCOMPARE(dialog->defaultSuffix(), extension);
        QCOMPARE(dialog->acceptMode(), QFileDialog::AcceptMode(mode));
        QVERIFY(dialog->nameFilters().join("").isEmpty() || dialog->nameFilters() == QStringList{"All Files (*)"});
        QVERIFY(QDir(QString::fromStdString(folder)).exists());  // made where it was missing
        QCOMPARE(QDir(dialog->directory()).canonicalPath(), QDir(QString::fromStdString(folder)).canonicalPath());
    }

    void confirmationIsAQuestionWithOkAndCancel() {
        const MessageRequest request{text::kConfirmWriteText, text::kConfirmWriteCaption, MessageButtons::OkCancel, MessageIcon::Question};
        const auto box = MakeMessageBox(nullptr, request);
        QCOMPARE(box->icon(), QMessageBox::Question);
        QCOMPARE(box->standardButtons(), QMessageBox::Ok | QMessageBox::Cancel);
        QCOMPARE(box->windowTitle(), QString(text::kConfirmWriteCaption));
        QCOMPARE(box->text(), QString(text::kConfirmWriteText));
        // The engineer's answer comes back from the modal box.
        QTimer::singleShot(0, [] {
            auto* shown = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (shown) shown->button(QMessageBox::Cancel)->click();
        });
        QtDialogProvider dialogs;
        QCOMPARE(dialogs.Message(nullptr, request), MessageResult::Cancel);
    }
};

QTEST_MAIN(FilesTest)
#include "files_test.moc"
