// ui_screenshots: renders docs/main-window.png and docs/job-window.png offscreen, from the
// real windows driving four virtual modems (COM3 to COM6) at line speed with real pauses.
// Usage: ui_screenshots OUTPUT_DIR
#include <stdlib.h>

#include <QAbstractItemModel>
#include <QApplication>
#include <QListWidget>
#include <QPainter>
#include <QPushButton>
#include <QTableView>
#include <QTimer>

#include <cstdio>
#include <filesystem>
#include <functional>

#include "dialog_service.h"
#include "main_form.h"
#include "port_form.h"
#include "simulator.h"
#include "work_form.h"

namespace {

// Calls `step` from the event loop every 10 ms until it returns true.
void Poll(QObject* owner, std::function<bool()> step) {
    auto* timer = new QTimer(owner);
    QObject::connect(timer, &QTimer::timeout, timer, [timer, step = std::move(step)] {
        if (step()) timer->deleteLater();
    });
    timer->start(10);
}

// The main window with `top` drawn over it where it stands on the screen.
QImage Composite(QWidget& main, QWidget* top) {
    QImage image = main.grab().toImage();
    if (top != nullptr) {
        QPainter painter(&image);
        painter.drawPixmap(top->geometry().topLeft() - main.geometry().topLeft(), top->grab());
    }
    return image;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: ui_screenshots OUTPUT_DIR\n");
        return 2;
    }
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    const QString out = QString::fromLocal8Bit(argv[1]);
    std::string ports = (std::filesystem::temp_directory_path() / "zbshots-XXXXXX").string();
    if (::mkdtemp(ports.data()) == nullptr) return 1;
    ::setenv("ZBCONFIG_PORTS", ports.c_str(), 1);
    QApplication app(argc, argv);

    zbsim::SimOptions options;
    options.count = 4;
    options.first_com = 3;
    options.ports_dir = ports;
    zbsim::Simulator sim(options);
    std::string error;
    if (!sim.start(&error)) {
        std::fprintf(stderr, "ui_screenshots: %s\n", error.c_str());
        return 1;
    }
    zbsim::ModemSettings router;
    router.devtype = 1;
    router.lnodeid = 12;
    router.channel = 15;
    router.devname = "Pump house";
    sim.set_settings(4, router);
    zbsim::ModemSettings end_device = router;
    end_device.devtype = 2;
    end_device.lnodeid = 31;
    end_device.devname = "Meter 7";
    sim.set_settings(5, end_device);
    zbsim::ModemSettings addressable;
    addressable.txmode = 1;
    addressable.lnodeid = 3;
    addressable.devname = "Gateway";
    sim.set_settings(6, addressable);

    zb::ui::ScriptedDialogService dialogs;
    zb::ui::TForm1 form(dialogs, [] { return std::vector<zb::ui::SystemPort>(); });
    form.show();

    bool job_shot = false;
    Poll(&form, [&] {
        auto* dialog = qobject_cast<zb::ui::Tport_form*>(QApplication::activeModalWidget());
        if (dialog == nullptr) return false;
        dialog->findChild<QListWidget*>(QStringLiteral("lb_comport"))->selectAll();
        dialog->findChild<QPushButton*>(QStringLiteral("Button1"))->click();
        return true;
    });
    Poll(&form, [&] {
        auto* work = qobject_cast<zb::ui::Twork_form*>(QApplication::activeModalWidget());
        if (work == nullptr) return false;
        const QAbstractItemModel* status = work->findChild<QTableView*>()->model();
        int reading = 0;
        for (int r = 0; r < status->rowCount(); ++r)
            if (status->index(r, 3).data().toString() == QStringLiteral("Get device's settings"))
                ++reading;
        if (status->rowCount() == 0 || reading < status->rowCount()) return false;
        // Into the reads, so that the bars have moved.
        QTimer::singleShot(550, work, [&, work] {
            job_shot = Composite(form, work).save(out + QStringLiteral("/job-window.png"));
        });
        return true;
    });
    form.act_portadd();

    form.findChild<QTableView*>(QStringLiteral("m_listview"))->selectRow(1);
    const bool main_shot = Composite(form, nullptr).save(out + QStringLiteral("/main-window.png"));
    std::error_code ec;
    std::filesystem::remove_all(ports, ec);
    std::printf("main-window.png %s, job-window.png %s\n", main_shot ? "written" : "FAILED",
                job_shot ? "written" : "FAILED");
    return main_shot && job_shot ? 0 : 1;
}
