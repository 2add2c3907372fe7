#include "ui/main/device_list.h"

#include <array>
#include <limits>
#include <mutex>
#include <optional>
#include <string>

#include "jobs/model/record_fields.h"
#include "ui/common/string_table.h"

namespace zb::ui {
namespace {

const QString kDash = QStringLiteral("-");
const QString kNotApplicable = QStringLiteral("N/A");

QString Latin1OrUnknown(const std::optional<std::string>& text) {
    if (!text) return QStringLiteral("?");
    return QString::fromLatin1(text->data(), static_cast<qsizetype>(text->size()));
}

// The list writes the hexadecimal fields with a 0x prefix.
QString Hex(const QString& digits) {
    return QStringLiteral("0x") + digits;
}

}  // namespace

QString CellText(const zb::DeviceRecord* device, int id) {
    if (device == nullptr) return kDash;
    const zb::DeviceRecord& d = *device;
    if (!d.connected || d.upgrade_wait || d.job_failed) return kDash;
    const zb::RecordField* field = zb::FieldOfColumn(id);
    if (field == nullptr) return kDash;
    const bool coordinator = d.devtype == 0;
    switch (field->display.shows) {
        case zb::ListShows::Always:
            break;
        case zb::ListShows::Coordinator:
            if (!coordinator) return kNotApplicable;
            break;
        case zb::ListShows::UnlessTransparentCoord:
            if (coordinator && d.txmode == 0) return kNotApplicable;
            break;
    }
    // "?" for an index outside its value table.
    const QString shown = Latin1OrUnknown(zb::DisplayText(d, *field));
    return field->display.hex_prefix ? Hex(shown) : shown;
}

QString StatusText(int selected_rows) {
    return QLatin1Char(' ') + QString::number(selected_rows) +
           QStringLiteral(" device(s) selected");
}

QStringList ColumnSamples(int id) {
    QStringList samples{LoadStr(id), kDash, QStringLiteral("?")};
    const auto add = [&samples](const auto& table) {
        for (std::string_view text : table)
            samples.append(QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size())));
    };
    switch (id) {
        case kColComNo:
            samples.append(ComCaption(static_cast<std::int32_t>(zb::kPortTableSize)));
            break;
        case kColBaud:
            add(zb::kBaudTexts);
            break;
        case kColParity:
            add(zb::kParityTexts);
            break;
        case kColDatabit:
            add(zb::kDatabitTexts);
            break;
        case kColStopbit:
            add(zb::kStopbitTexts);
            break;
        case kColInterface:
            add(zb::kInterfaceTexts);
            break;
        case kColDevtype:
            add(zb::kDevtypeTexts);
            break;
        case kColTopology:
            add(zb::kTopologyTexts);
            break;
        case kColMode:
            add(zb::kTxmodeTexts);
            samples.append(kNotApplicable);
            break;
        case kColOutpower:
            add(zb::kOutpowerTexts);
            break;
        case kColPanid:
        case kColParentAddr:
        case kColShortAddr:
            // Digits differ in width in most fonts: one sample per digit.
            for (std::int64_t digit = 0; digit < 16; ++digit)
                samples.append(Hex(Latin1OrUnknown(
                    zb::DisplayTextOf(zb::FieldOf(zb::FieldId::Panid), 0x1111 * digit))));
            break;
        case kColLocalNode:
        case kColChannel:
            samples.append({kNotApplicable, QStringLiteral("99"), QStringLiteral("88")});
            break;
        case kColSecurity:
            add(zb::kSecurityTexts);
            break;
        default:
            break;
    }
    return samples;
}

std::optional<std::int32_t> ComOfCaption(const QString& caption) {
    if (!caption.startsWith(QLatin1String("COM"))) return std::nullopt;
    qsizetype i = 3;
    while (i < caption.size() && caption[i].isSpace()) ++i;
    bool negative = false;
    if (i < caption.size() && (caption[i] == QLatin1Char('+') || caption[i] == QLatin1Char('-'))) {
        negative = caption[i] == QLatin1Char('-');
        ++i;
    }
    std::int64_t value = 0;
    const qsizetype first_digit = i;
    for (; i < caption.size(); ++i) {
        const char16_t c = caption[i].unicode();
        if (c < u'0' || c > u'9') break;
        value = value * 10 + (c - u'0');
        if (value > std::numeric_limits<std::int32_t>::max()) return std::nullopt;
    }
    if (i == first_digit) return std::nullopt;
    return static_cast<std::int32_t>(negative ? -value : value);
}

std::vector<ListRow> BuildListRows(const zb::PortTable& rows, std::span<const int> visible) {
    std::vector<ListRow> list;
    for (std::size_t k = 0; k < rows.size(); ++k) {
        const zb::PortRow& row = rows[k];
        if (row.port_state != 1 || !row.device) continue;
        ListRow item;
        item.com = static_cast<std::int32_t>(k + 1);
        item.cells.reserve(static_cast<qsizetype>(visible.size()) + 1);
        item.cells.append(ComCaption(item.com));
        for (int id : visible) item.cells.append(CellText(row.device.get(), id));
        list.push_back(std::move(item));
    }
    return list;
}

void MarkAllPorts(zb::PortTable& rows, bool mark) {
    for (zb::PortRow& row : rows) {
        if (!row.device) continue;
        if (mark) {
            zb::MarkPort(row);
        } else if (row.device->selected) {
            zb::UnmarkPort(row);
        }
    }
}

void MarkListedPorts(zb::PortTable& rows, std::span<const std::int32_t> coms, bool mark) {
    for (std::int32_t com : coms) {
        const auto k = zb::RowOfCom(com);
        if (!k) continue;
        if (mark) {
            zb::MarkPort(rows[*k]);
        } else {
            zb::UnmarkPort(rows[*k]);
        }
    }
}

void MarkUpgradeOf(zb::PortTable& rows, std::span<const std::int32_t> coms, bool on) {
    for (std::int32_t com : coms)
        if (const auto k = zb::RowOfCom(com)) zb::SetUpgradeMark(rows[*k], on);
}

std::vector<std::int32_t> UpgradeAgainPorts(const zb::PortTable& rows) {
    std::vector<std::int32_t> coms;
    for (std::size_t k = 0; k < rows.size(); ++k) {
        const zb::PortRow& row = rows[k];
        if (!row.device) continue;
        bool selected = false;
        if (row.port_lock) {
            std::lock_guard lock(*row.port_lock);
            selected = row.device->selected;
        } else {
            selected = row.device->selected;
        }
        if (selected && row.device->upgrade_wait) coms.push_back(static_cast<std::int32_t>(k + 1));
    }
    return coms;
}

QString UpgradeAgainText(std::int32_t com) {
    return QStringLiteral("[COM") + QString::number(com) +
           QStringLiteral("] : Need to upgrade firmware again.");
}

}  // namespace zb::ui
