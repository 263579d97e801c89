#include "service_window.h"

#include <QAction>
#include <QLabel>
#include <QMenuBar>
#include <QStatusBar>

namespace dorv::service {

ServiceWindow::ServiceWindow(const QString& connection) {
    setObjectName("ServiceWindow");
    setWindowTitle(QStringLiteral("Dorv 5000 — сервис"));
    resize(640, 360);

    QMenu* file = menuBar()->addMenu(QStringLiteral("&Файл"));
    QAction* quit = file->addAction(QStringLiteral("В&ыход"));
    quit->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));
    connect(quit, &QAction::triggered, this, &QWidget::close);
    dispenserMenu_ = menuBar()->addMenu(QString::fromUtf8(kDispenserMenu));

    auto* help = new QLabel(QStringLiteral("«ТРК → Программирование параметров (Dorv 5000)» открывает окно "
                                           "параметров контроллера: линия — № СОМ-порта, адрес пистолета."),
                            this);
    help->setWordWrap(true);
    help->setMargin(16);
    help->setAlignment(Qt::AlignTop | Qt::AlignLeft);
    setCentralWidget(help);

    auto* status = new QLabel(connection, this);
    status->setObjectName("ConnectionStatus");
    statusBar()->addWidget(status, 1);
}

QAction* ServiceWindow::ParamItem() const {
    for (QAction* action : dispenserMenu_->actions())
        if (action->text() == QString::fromUtf8(kParamItemCaption)) return action;
    return nullptr;
}

}  // namespace dorv::service
