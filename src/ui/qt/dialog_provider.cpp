#include "dialog_provider.h"

#include <QDir>

#include "qt_strings.h"

namespace dorv::ui::qt {
namespace {

QMessageBox::Icon IconOf(MessageIcon icon) {
    switch (icon) {
        case MessageIcon::Question: return QMessageBox::Question;
        case MessageIcon::Error: return QMessageBox::Critical;
        default: return QMessageBox::NoIcon;
    }
}

std::optional<std::string> RunFileDialog(QWidget* parent, const FileDialogRequest& request, QFileDialog::AcceptMode mode) {
    const auto dialog = MakeFileDialog(parent, request, mode);
    if (dialog->exec() != QDialog::Accepted || dialog->selectedFiles().isEmpty()) return std::nullopt;
    return Utf8(dialog->selectedFiles().front());
}

}  // namespace

std::unique_ptr<QMessageBox> MakeMessageBox(QWidget* parent, const MessageRequest& request) {
    auto box = std::make_unique<QMessageBox>(parent);
    box->setWindowTitle(Q(request.caption));
    box->setText(Q(request.text));
    box->setIcon(IconOf(request.icon));
    if (request.buttons == MessageButtons::OkCancel) {
        box->setStandardButtons(QMessageBox::Ok | QMessageBox::Cancel);
        box->setDefaultButton(QMessageBox::Ok);
        box->setEscapeButton(QMessageBox::Cancel);
    } else {
        box->setStandardButtons(QMessageBox::Ok);
    }
    return box;
}

std::unique_ptr<QFileDialog> MakeFileDialog(QWidget* parent, const FileDialogRequest& request, QFileDialog::AcceptMode mode) {
    auto dialog = std::make_unique<QFileDialog>(parent, Q(request.title));
    dialog->setAcceptMode(mode);
    dialog->setFileMode(mode == QFileDialog::AcceptSave ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
    dialog->setDefaultSuffix(Q(request.defaultExtension));
    const QString folder = Q(request.initialFolder);
    if (!folder.isEmpty()) {
        QDir().mkpath(folder);
        dialog->setDirectory(folder);
    }
    dialog->selectFile(Q(request.defaultName));
    return dialog;
}

MessageResult QtDialogProvider::Message(QWidget* parent, const MessageRequest& request) {
    const auto box = MakeMessageBox(parent, request);
    return box->exec() == QMessageBox::Ok ? MessageResult::Ok : MessageResult::Cancel;
}

std::optional<std::string> QtDialogProvider::SaveFileName(QWidget* parent, const FileDialogRequest& request) {
    return RunFileDialog(parent, request, QFileDialog::AcceptSave);
}

std::optional<std::string> QtDialogProvider::OpenFileName(QWidget* parent, const FileDialogRequest& request) {
    return RunFileDialog(parent, request, QFileDialog::AcceptOpen);
}

}  // namespace dorv::ui::qt
