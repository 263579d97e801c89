#include "param_frame_widget.h"

#include <QScrollBar>
#include <QShowEvent>

#include "driver_settings_dialog.h"
#include "param_grid.h"
#include "qt_strings.h"
#include "ui/texts.h"
#include "window_fonts.h"
#include "write_editors.h"

namespace dorv::ui::qt {

ParamFrameWidget::ParamFrameWidget(QWidget* parent)
    : QDialog(parent), updates_(*this), logic_(std::make_unique<TParamFrm>(*this)), dialogs_(std::make_unique<QtDialogProvider>()) {
    setObjectName("ParamFrm");
    setWindowTitle(Q(text::kWindowCaption));
    setFont(ParamWindowFont());
    setFixedSize(kClientWidth, kClientHeight);
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint |
                   Qt::MSWindowsFixedSizeDialogHint);
    controls_ = ParamFrameControls::Build(this);
    grid_ = new ParamGrid(*logic_, controls_.tabControl1);
    grid_->setObjectName("RxDGCommon");
    grid_->setGeometry(ParamFrameControls::GridGeometry());
    editors_ = new WriteEditors(controls_.panel2);
    // The tab order follows the form: line, address, ID, buttons, then the grid.
    setTabOrder(controls_.comPortEdit, controls_.addrEdit);
    setTabOrder(controls_.addrEdit, controls_.edIdNumber);
    setTabOrder(controls_.edIdNumber, grid_);
    timer1_.setObjectName("Timer1");
    timer2_.setObjectName("Timer2");
    timer1_.setInterval(kStatusColourResetMs);
    timer2_.setInterval(kEditorPlacementMs);
    SetStatusColour(StatusColour::ButtonFace);
    Connect();
}

ParamFrameWidget::~ParamFrameWidget() {
    // The runs call this window's thread-safe methods until they have stopped.
    logic_->Shutdown();
    grid_->Detach();
}

void ParamFrameWidget::Connect() {
    TParamFrm* logic = logic_.get();
    connect(controls_.comPortEdit, &QSpinBox::valueChanged, this, [logic](int v) { logic->SetComPort(v); });
    connect(controls_.addrEdit, &QSpinBox::valueChanged, this, [logic](int v) { logic->SetAddress(v); });
    connect(controls_.button1, &QPushButton::clicked, this, [logic] { logic->Button1Click(); });
    connect(controls_.writeBtn, &QPushButton::clicked, this, [logic] { logic->WriteBtnClick(); });
    connect(controls_.saveBtn, &QPushButton::clicked, this, [logic] { logic->SaveBtnClick(); });
    connect(controls_.loadBtn, &QPushButton::clicked, this, [logic] { logic->LoadBtnClick(); });
    connect(controls_.copyTool, &QAction::triggered, this, [logic] { logic->CopyToolClick(); });
    connect(controls_.pasteTool, &QAction::triggered, this, [logic] { logic->PasteToolClick(); });
    connect(controls_.driverSettingBtn, &QPushButton::clicked, this, [logic] { logic->DriverSettingBtnClick(); });
    connect(controls_.bitBtn1, &QPushButton::clicked, this, &QDialog::accept);
    connect(controls_.actionExit, &QAction::triggered, this, [logic] { logic->ActionExitExecute(); });
    connect(controls_.tabs, &QTabBar::currentChanged, this, [logic] { logic->TabControl1Change(); });
    connect(&timer1_, &QTimer::timeout, this, [logic] { logic->Timer1Timer(); });
    connect(&timer2_, &QTimer::timeout, this, [logic] { logic->Timer2Timer(); });
    connect(editors_, &WriteEditors::enterPressed, this, [logic] { logic->WriteValueEditKeyDown(kEnterKey); });
    connect(editors_, &WriteEditors::exited, this, [logic] { logic->WriteValueEditExit(); });
    for (QScrollBar* bar : {grid_->verticalScrollBar(), grid_->horizontalScrollBar()})
        connect(bar, &QScrollBar::valueChanged, this, [this] { GridScrolled(); });
}

void ParamFrameWidget::GridScrolled() {
    const QRect cell = grid_->CellRectIn(grid_->viewport(), grid_->CurrentCell());
    logic_->RxDGCommonScrolled(grid_->viewport()->rect().contains(cell));
}

void ParamFrameWidget::SetDialogProvider(std::unique_ptr<DialogProvider> dialogs) {
    dialogs_ = dialogs ? std::move(dialogs) : std::make_unique<QtDialogProvider>();
}

// ---- showing and closing ----

void ParamFrameWidget::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (event->spontaneous()) return;
    // The form opens centred on the screen at every showing; only the settings dialog keeps
    // the place it was left at.
    WindowPlacement::CentreOnScreen(*this);
    logic_->FormShow();
}

void ParamFrameWidget::done(int result) {
    timer2_.stop();
    logic_->PlaceWriteEditor({0, 0});  // a new showing starts without an editor
    logic_->FormClose();
    QDialog::done(result);
}

void ParamFrameWidget::ShowModal() {
    showing_ = true;
    exec();
    showing_ = false;
}
void ParamFrameWidget::Close() { reject(); }

// ---- any thread ----

void ParamFrameWidget::PostDrain() { QMetaObject::invokeMethod(this, "DrainPending", Qt::QueuedConnection); }
void ParamFrameWidget::DrainPending() { updates_.Drain(); }
void ParamFrameWidget::PaintAll() { grid_->Model().AllChanged(); }
void ParamFrameWidget::PaintRow(int row) { grid_->Model().RowChanged(row); }
void ParamFrameWidget::ShowStatus(const std::string& text) { controls_.statusPanel->setText(Q(text)); }
void ParamFrameWidget::RepaintGrid() { updates_.RepaintGrid(); }
void ParamFrameWidget::RepaintRow(int row) { updates_.RepaintRow(row); }
void ParamFrameWidget::SetStatusText(const std::string& text) { updates_.SetStatusText(text); }

// ---- requests ----

void ParamFrameWidget::SetRowCount(int rows) { grid_->Model().SetGridRowCount(rows); }
void ParamFrameWidget::SetRowHeights(const std::vector<int>& heights) { grid_->SetRowHeights(heights); }
void ParamFrameWidget::SetCurrentCell(GridCell cell) { grid_->SetCurrentCell(cell); }

void ParamFrameWidget::SetStatusColour(StatusColour colour) {
    QPalette palette = controls_.statusBar1->palette();
    const QColor fill =
        colour == StatusColour::ButtonFace ? this->palette().color(QPalette::Button) : ColourOf(static_cast<std::uint32_t>(colour));
    palette.setColor(QPalette::Window, fill);
    controls_.statusBar1->setPalette(palette);
}

QString ParamFrameWidget::StatusText() const { return controls_.statusPanel->text(); }
QColor ParamFrameWidget::StatusBarColour() const { return controls_.statusBar1->palette().color(QPalette::Window); }

void ParamFrameWidget::StartTimer(TimerId timer, int milliseconds) { TimerOf(timer).start(milliseconds); }
void ParamFrameWidget::StopTimer(TimerId timer) { TimerOf(timer).stop(); }

void ParamFrameWidget::SetIdNumberVisible(bool visible) {
    controls_.idLabel->setVisible(visible);
    controls_.edIdNumber->setVisible(visible);
}

void ParamFrameWidget::ShowGridHint(const std::string& text) { grid_->ShowHint(text); }

void ParamFrameWidget::ApplyEditors(const EditorLayout& layout) { editors_->Apply(layout, controls_.tabControl1, grid_); }

void ParamFrameWidget::MoveEditorsTo(int left, int top) { editors_->MoveShownTo(QPoint(left, top)); }

MessageResult ParamFrameWidget::ShowMessage(const MessageRequest& request) { return dialogs_->Message(this, request); }

std::optional<std::string> ParamFrameWidget::AskSaveFileName(const FileDialogRequest& request) {
    return dialogs_->SaveFileName(this, request);
}

std::optional<std::string> ParamFrameWidget::AskOpenFileName(const FileDialogRequest& request) {
    return dialogs_->OpenFileName(this, request);
}

DriverSettingsDialogView& ParamFrameWidget::DriverSettingsDialog() {
    if (!settingsDialog_) settingsDialog_ = new DriverSettingsDialogWidget(this);
    return *settingsDialog_;
}

// ---- state ----

DriverSettingsDialogWidget* ParamFrameWidget::SettingsDialogIfCreated() const { return settingsDialog_; }

int ParamFrameWidget::ComPortValue() const { return controls_.comPortEdit->value(); }
int ParamFrameWidget::AddressValue() const { return controls_.addrEdit->value(); }
int ParamFrameWidget::IdNumberValue() const { return controls_.edIdNumber->value(); }
int ParamFrameWidget::SelectedTab() const { return controls_.tabs->currentIndex(); }
GridCell ParamFrameWidget::CurrentCell() const { return grid_->CurrentCell(); }
int ParamFrameWidget::ColumnWidth(int column) const { return grid_->CellWidth(column); }

int ParamFrameWidget::MeasureTextHeight(const std::string& text, int width) const { return grid_->MeasureTextHeight(text, width); }

Rect ParamFrameWidget::CellRect(GridCell cell) const { return FromQRect(grid_->CellRectIn(controls_.tabControl1, cell)); }

EditorValues ParamFrameWidget::CurrentEditorValues() const { return editors_->Values(); }
EditorId ParamFrameWidget::FocusedEditor() const { return editors_->Focused(); }

}  // namespace dorv::ui::qt
