#include "ui/common/string_table.h"

#include <QHash>

namespace zb::ui {
namespace {

const QHash<int, QString>& table() {
    static const QHash<int, QString> strings = {
        {301, QStringLiteral("Preparing...")},
        {302, QStringLiteral("Do you really want to REMOVE selected COM port(s) ?")},
        {303, QStringLiteral("There is one device getting configurations fail.\n"
                             "Please check the serial parameter or connection is correct.")},
        {304, QStringLiteral("Apply configurations fail.")},
        {305, QStringLiteral("Do you really want to apply settings to ALL selected devices ?")},
        {306, QStringLiteral("Apply configurations successfully.")},
        {307, QStringLiteral("Export configurations successfully.")},
        {308, QStringLiteral("Import an invalid parameter.")},
        {309, QStringLiteral("Import configurations successfully.")},
        {319, QStringLiteral("Upgrade firmware successfully.")},
        {320, QStringLiteral("There is one device upgrading firmware fail.")},
        {500, QStringLiteral("COM No.")},
        {501, QStringLiteral("File size")},
        {502, QStringLiteral("Progress")},
        {503, QStringLiteral("Messages")},
        {600, QStringLiteral("ZigBee Modem Configurator")},
        {601, QStringLiteral("1.0")},
        {602, QStringLiteral("12013010")},
        {603, QStringLiteral("Configures serial-attached ZigBee radio modems.\n"
                             "Copyright (C) 2026 the zbconfig developers.\n"
                             "Provided as is, without warranty of any kind.")},
        {614, QStringLiteral("COM No.")},
        {615, QStringLiteral("Baud rate")},
        {616, QStringLiteral("Parity")},
        {617, QStringLiteral("Data bit")},
        {618, QStringLiteral("Stop bit")},
        {619, QStringLiteral("Flow ctrl")},
        {620, QStringLiteral("Interface")},
        {621, QStringLiteral("Device name")},
        {622, QStringLiteral("Device type")},
        {623, QStringLiteral("Topology")},
        {624, QStringLiteral("Mode")},
        {625, QStringLiteral("PAN ID")},
        {626, QStringLiteral("Parent addr")},
        {627, QStringLiteral("Short addr")},
        {628, QStringLiteral("Local node ID")},
        {629, QStringLiteral("Channel")},
        {630, QStringLiteral("Output power")},
        {631, QStringLiteral("Security")},
        {632, QStringLiteral("F/W version")},
    };
    return strings;
}

}  // namespace

QString LoadStr(int id) {
    return table().value(id);
}
bool HasStr(int id) {
    return table().contains(id);
}

}  // namespace zb::ui
