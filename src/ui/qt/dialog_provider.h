// The parameter window's message boxes and file dialogs, behind one small interface so a test
// can answer them without a modal loop. QtDialogProvider is what an engineer sees.
//
// Thread safety: user-interface thread only.
#pragma once

#include <QFileDialog>
#include <QMessageBox>

#include <memory>
#include <optional>
#include <string>

#include "ui/view_types.h"

namespace dorv::ui::qt {

class DialogProvider {
public:
    virtual ~DialogProvider() = default;
    virtual MessageResult Message(QWidget* parent, const MessageRequest& request) = 0;
    // The chosen file (UTF-8), or nothing when the user cancels.
    virtual std::optional<std::string> SaveFileName(QWidget* parent, const FileDialogRequest& request) = 0;
    virtual std::optional<std::string> OpenFileName(QWidget* parent, const FileDialogRequest& request) = 0;
};

class QtDialogProvider final : public DialogProvider {
public:
    MessageResult Message(QWidget* parent, const MessageRequest& request) override;
    std::optional<std::string> SaveFileName(QWidget* parent, const FileDialogRequest& request) override;
    std::optional<std::string> OpenFileName(QWidget* parent, const FileDialogRequest& request) override;
};

// The dialogs as QtDialogProvider shows them, configured and not yet shown.
std::unique_ptr<QMessageBox> MakeMessageBox(QWidget* parent, const MessageRequest& request);
// No file-type filter; the default name and extension and the initial folder as requested. The
// folder is created when missing, so the dialog opens where the buffers are kept.
std::unique_ptr<QFileDialog> MakeFileDialog(QWidget* parent, const FileDialogRequest& request, QFileDialog::AcceptMode mode);

}  // namespace dorv::ui::qt
