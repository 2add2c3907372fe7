// zbconfig: the program's entry. One copy per user runs; a later start hands over to it.
#include <QApplication>

#include <exception>

#include "ui/common/dialog_service.h"
#include "ui/common/string_table.h"
#include "ui/main/main_form.h"
#include "ui/main/single_instance.h"

namespace {

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
