// dorv-service: the parameter window and the driver settings dialog for a service engineer,
// reached as on a station through the host's "&ТРК" menu.
//
//   dorv-service --emulator                     the built-in emulator on a pseudo-terminal
//   dorv-service --port /dev/ttyUSB0            a dispenser line on a serial adapter
//   dorv-service --tcp 192.0.2.10:4001          a line behind a serial device server
//   dorv-service --emulator --screenshot docs/param-window.png
#include <QApplication>
#include <QCommandLineParser>
#include <QEvent>
#include <QSpinBox>

#include <iostream>
#include <memory>
#include <stdexcept>

#include "driver_module.h"
#include "qt_menu.h"
#include "screenshots.h"
#include "service_window.h"
#include "session.h"

namespace {

// The lines the parameter window's "№ СОМ-порта" can hold: the window reads and writes on the
// line it shows, so the service's line must be one of them.
constexpr int kFirstWindowLine = 1, kLastWindowLine = 24;

struct Options {
    dorv::tools::SessionOptions session;
    QString library = QStringLiteral(DORV_QT_MODULE_PATH);
    QString screenshot;
    int flags = 0;
};

// Sets the parameter window's "№ СОМ-порта" to the service's line when the window first shows
// (before its own showing code runs); later showings keep what the engineer chose.
class ComPortPreset final : public QObject {
public:
    explicit ComPortPreset(int line) : line_(line) {}

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Show && watched->objectName() == QLatin1String("ParamFrm")) {
            if (auto* edit = watched->findChild<QSpinBox*>(QStringLiteral("ComPortEdit"))) edit->setValue(line_);
            QCoreApplication::instance()->removeEventFilter(this);
        }
        return false;
    }

private:
    int line_;
};

// A whole number option, or an error naming it.
int Number(const QCommandLineParser& parser, const QCommandLineOption& option, int base = 10) {
    bool ok = false;
    const int value = parser.value(option).toInt(&ok, base);
    if (!ok) throw std::runtime_error("--" + option.names().front().toStdString() + " must be a whole number");
    return value;
}

Options Parse(QApplication& app) {
    QCommandLineParser parser;
    parser.setApplicationDescription("Dorv 5000 service: parameter window and driver settings");
    parser.addHelpOption();
    const QCommandLineOption port("port", "Serial device of the dispenser line.", "DEVICE");
    const QCommandLineOption tcp("tcp", "Serial device server of the dispenser line.", "HOST:PORT");
    const QCommandLineOption emulator("emulator", "The built-in emulator on a pseudo-terminal.");
    const QCommandLineOption line("line",
                                  "Host line number the connection serves, the window's "
                                  "\"№ СОМ-порта\" (1..24).",
                                  "N", "1");
    const QCommandLineOption baud("baud", "Built-in emulator's line speed; 0 answers at once.", "BAUD", "4800");
    const QCommandLineOption trace("trace", "Write every frame to FILE.", "FILE");
    const QCommandLineOption flags("flags", "Creation flags for GetDI30.", "N", "0");
    const QCommandLineOption library("library", "The driver module to load.", "PATH");
    const QCommandLineOption screenshot("screenshot", "Save the windows as PNG pictures and exit.", "FILE");
    parser.addOptions({port, tcp, emulator, line, baud, trace, flags, library, screenshot});
    parser.process(app);

    Options o;
    o.session.port = parser.value(port).toStdString();
    o.session.tcp = parser.value(tcp).toStdString();
    o.session.emulator = parser.isSet(emulator);
    o.session.line = Number(parser, line);
    if (o.session.line < kFirstWindowLine || o.session.line > kLastWindowLine)
        throw std::runtime_error("--line must be 1 to 24: the parameter window's \"№ СОМ-порта\" holds no other line");
    o.session.baud = Number(parser, baud);
    o.session.trace = parser.value(trace).toStdString();
    o.flags = Number(parser, flags, 0);
    if (parser.isSet(library)) o.library = parser.value(library);
    o.screenshot = parser.value(screenshot);
    return o;
}

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName("dorv-service");
    Options options;
    try {
        options = Parse(app);
    } catch (const std::exception& e) {
        std::cerr << "dorv-service: " << e.what() << "\n";
        return 2;
    }

    std::unique_ptr<dorv::tools::Session> session;
    std::unique_ptr<dorv::service::DriverModule> module;
    std::unique_ptr<dorv::DI30> driver;
    try {
        session = std::make_unique<dorv::tools::Session>(options.session);
        module = std::make_unique<dorv::service::DriverModule>(options.library.toStdString());
        driver.reset(module->Create(options.flags, session->Link()));
        driver->SetupLine(static_cast<std::uint8_t>(options.session.line));
    } catch (const std::exception& e) {
        std::cerr << "dorv-service: " << e.what() << "\n";
        return 2;
    }

    const QString connection = QStringLiteral("Линия %1: %2").arg(options.session.line).arg(QString::fromStdString(session->Description()));
    dorv::service::ServiceWindow window(connection);
    dorv::ui::qt::QtMenuItem menu(window.menuBar());
    dorv::ui::qt::QtMenuItemFactory factory;
    driver->AttachMenu(&menu, &factory);
    ComPortPreset preset(options.session.line);
    app.installEventFilter(&preset);

    int status = 0;
    if (!options.screenshot.isEmpty()) {
        status = dorv::service::TakeScreenshots(window.ParamItem(), options.screenshot);
    } else {
        window.show();
        status = QApplication::exec();
    }
    // The driver releases its windows (and joins their runs) before its line goes.
    driver.reset();
    session.reset();
    return status;
}
