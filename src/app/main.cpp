// zbconfig: the program's entry. One copy per user runs; a later start hands over to it.
#include <QApplication>

#include <cstdio>
#include <cstring>
#include <exception>

#include "ui/common/dialog_service.h"
#include "ui/common/string_table.h"
#include "ui/main/main_form.h"
#include "ui/main/single_instance.h"
#include "version.h"

namespace {

const char kUsage[] =
    "Usage: zbconfig [--help | --version] [QT-OPTION ...]\n"
    "Configures serial ZigBee modems in a window: add their COM ports, read and write their\n"
    "settings, export and import configuration files, upgrade their firmware. One copy runs\n"
    "per user; a second start brings the running window to the front and ends.\n"
    "\n"
    "  -h, --help          this text\n"
    "  --version           print the version and exit\n"
    "\n"
    "Every other argument goes to Qt, for example:\n"
    "  -platform NAME      the window system: xcb, wayland, or offscreen (no display)\n"
    "  -display DISPLAY    the X display to open (xcb)\n"
    "  -style NAME         the widget style, for example Fusion\n"
    "\n"
    "Environment:\n"
    "  ZBCONFIG_PORTS      the port-map directory (default ~/.config/zbconfig/ports):\n"
    "                      COM n is its entry \"comN\", a symbolic link to the device\n"
    "  ZBCONFIG_LOCK_DIR   the folder of the ports' lock files (default /var/lock)\n"
    "  QT_QPA_PLATFORM     the window system, as -platform\n"
    "\n"
    "The help menu opens qdlradio.chm from the current directory.\n";

// The arguments answered before Qt starts, so that they need no display. Returns the exit
// status, or -1 when the window is to run. Everything else is Qt's, as it always was.
int AnswerWithoutWindow(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            std::fputs(kUsage, stdout);
            return std::fflush(stdout) == 0 ? 0 : 1;
        }
        if (std::strcmp(argv[i], "--version") == 0) {
            std::printf("zbconfig %s\n", ZB_VERSION);
            return std::fflush(stdout) == 0 ? 0 : 1;
        }
    }
    return -1;
}

// Shows an exception that escaped and ends the program.
void ReportEscapedException(const QString& what) {
    zb::ui::QtDialogService dialogs;
    dialogs.Message(QApplication::activeWindow(), zb::ui::MessageKind::Warning, what);
}

class Application final : public QApplication {
public:
    using QApplication::QApplication;

    // Exceptions must not unwind through Qt's event dispatch; an event handler's exception
    // ends here instead.
    bool notify(QObject* receiver, QEvent* event) override {
        try {
            return QApplication::notify(receiver, event);
        } catch (const std::exception& e) {
            Fail(QString::fromLocal8Bit(e.what()));
        } catch (...) {
            Fail(QStringLiteral("Unknown exception."));
        }
        return false;
    }

private:
    void Fail(const QString& what) {
        if (failed_) return;
        failed_ = true;
        ReportEscapedException(what);
        exit(0);
    }
    bool failed_ = false;
};

}  // namespace

int main(int argc, char** argv) {
    if (const int status = AnswerWithoutWindow(argc, argv); status >= 0) return status;
    Application app(argc, argv);
    try {
        const QString title = zb::ui::LoadStr(zb::ui::IDS_TITLE);
        QApplication::setApplicationName(title);

        zb::ui::SingleInstance instance(zb::ui::SingleInstance::NameFor(title));
        if (instance.Claim() == zb::ui::SingleInstance::Role::Second) return 0;

        zb::ui::QtDialogService dialogs;
        zb::ui::TForm1 form(dialogs);
        QObject::connect(&instance, &zb::ui::SingleInstance::ShowRequested, &form,
                         &zb::ui::TForm1::ShowFromOtherInstance);
        form.show();
        Application::exec();
    } catch (const std::exception& e) {
        ReportEscapedException(QString::fromLocal8Bit(e.what()));
    } catch (...) {
        ReportEscapedException(QStringLiteral("Unknown exception."));
    }
    return 0;
}
