// ui_screenshots: renders the pictures under docs/ offscreen, from the real windows driving
// four virtual modems (COM11 to COM13 and COM1024) at line speed with real pauses: the main
// window, the job window, the four tabs of the configuration dialog, the file chooser and the
// column options.
// Usage: ui_screenshots OUTPUT_DIR
#include <stdlib.h>

#include <QAbstractItemModel>
#include <QApplication>
#include <QListWidget>
#include <QPainter>
#include <QPushButton>
#include <QTabWidget>
#include <QTableView>
#include <QTimer>

#include <cstdio>
#include <filesystem>
#include <functional>

#include "holding_process.h"
#include "scripted_dialogs.h"
#include "sim/simulator.h"
#include "ui/config/config_form.h"
#include "ui/config/export_form.h"
#include "ui/config/options_form.h"
#include "ui/main/main_form.h"
#include "ui/main/port_form.h"
#include "ui/main/report_form.h"
#include "ui/work/work_form.h"

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

// Saves `dialog` once it is the modal window, through `shoot`, then closes it with Cancel.
template <class Dialog>
void ShootThenCancel(QObject* owner, std::function<bool(Dialog*)> shoot, bool* ok) {
    Poll(owner, [=] {
        auto* dialog = qobject_cast<Dialog*>(QApplication::activeModalWidget());
        if (dialog == nullptr) return false;
        *ok = shoot(dialog);
        dialog->reject();
        return true;
    });
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
    options.count = 3;
    options.first_com = 11;
    options.ports_dir = ports;
    zbsim::Simulator sim(options);
    options.count = 1;
    options.first_com = 1024;
    zbsim::Simulator last(options);
    std::string error;
    if (!sim.start(&error) || !last.start(&error)) {
        std::fprintf(stderr, "ui_screenshots: %s\n", error.c_str());
        return 1;
    }
    zbsim::ModemSettings router;
    router.devtype = 1;
    router.lnodeid = 12;
    router.channel = 15;
    router.devname = "Pump house";
    sim.set_settings(12, router);
    zbsim::ModemSettings end_device = router;
    end_device.devtype = 2;
    end_device.lnodeid = 31;
    end_device.devname = "Meter 7";
    sim.set_settings(13, end_device);
    zbsim::ModemSettings addressable;
    addressable.txmode = 1;
    addressable.lnodeid = 3;
    addressable.devname = "Gateway";
    addressable.security = true;
    addressable.aeskey = "00112233445566778899AABBCCDDEEFF";
    last.set_settings(1024, addressable);

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

    auto* list = form.findChild<QTableView*>(QStringLiteral("m_listview"));
    list->selectRow(1);
    const bool main_shot = Composite(form, nullptr).save(out + QStringLiteral("/main-window.png"));

    // The configuration dialog of the addressable coordinator on COM1024, tab by tab.
    list->selectRow(3);
    bool config_shot = false;
    ShootThenCancel<zb::ui::Tconfig_form>(
        &form,
        [&](zb::ui::Tconfig_form* dialog) {
            auto* tabs = dialog->findChild<QTabWidget*>();
            const char* names[] = {"general", "serial", "zigbee", "security"};
            bool ok = tabs != nullptr && tabs->count() == 4;
            for (int i = 0; ok && i < 4; ++i) {
                tabs->setCurrentIndex(i);
                ok = dialog->grab().save(out + QStringLiteral("/config-%1.png").arg(names[i]));
            }
            return ok;
        },
        &config_shot);
    form.act_config();

    bool chooser_shot = false;
    list->selectRow(3);
    ShootThenCancel<zb::ui::Texport_form>(
        &form,
        [&](zb::ui::Texport_form* dialog) {
            dialog->SetFirmwareFile(QStringLiteral("/home/technician/firmware/modem-2.1.0.rom"));
            return dialog->grab().save(out + QStringLiteral("/upgrade-chooser.png"));
        },
        &chooser_shot);
    form.act_upgrade();

    bool options_shot = false;
    ShootThenCancel<zb::ui::Toptions_form>(
        &form,
        [&](zb::ui::Toptions_form* dialog) {
            return dialog->grab().save(out + QStringLiteral("/options.png"));
        },
        &options_shot);
    form.act_options();

    // The last job's report, after a refresh that found COM12 held by a terminal program.
    bool report_shot = false;
    {
        zbtest::HoldingProcess terminal(sim.device_path(12), "minicom");
        list->selectAll();
        form.act_refresh();
    }
    ShootThenCancel<zb::ui::Treport_form>(
        &form,
        [&](zb::ui::Treport_form* dialog) {
            return dialog->grab().save(out + QStringLiteral("/last-job-report.png"));
        },
        &report_shot);
    form.act_report();

    std::error_code ec;
    std::filesystem::remove_all(ports, ec);
    const auto said = [](bool ok) { return ok ? "written" : "FAILED"; };
    std::printf(
        "main window %s, job window %s, configuration %s, chooser %s, options %s, report %s\n",
        said(main_shot), said(job_shot), said(config_shot), said(chooser_shot), said(options_shot),
        said(report_shot));
    return main_shot && job_shot && config_shot && chooser_shot && options_shot && report_shot ? 0
                                                                                               : 1;
}
