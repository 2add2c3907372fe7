#include "ui/main/device_list.h"

#include <array>
#include <limits>
#include <mutex>

#include "ui/common/string_table.h"

namespace zb::ui {
namespace {

const QString kDash = QStringLiteral("-");
const QString kNotApplicable = QStringLiteral("N/A");

template <std::size_t N>
QString TableText(const std::array<std::string_view, N>& table, std::int64_t index) {
    const auto text = zb::ValueText(table, index);
    if (!text) return QStringLiteral("?");
    return QString::fromLatin1(text->data(), static_cast<qsizetype>(text->size()));
}

template <std::size_t N>
QString FieldText(const std::array<char, N>& field) {
    const std::string_view text = zb::TextOf(field);
    return QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()));
}

QString Hex16(std::uint32_t value) {
    return QString::asprintf("0x%04X", value & 0xFFFFu);
}

}  // namespace

QString CellText(const zb::DeviceRecord* device, int id) {
    if (device == nullptr) return kDash;
    const zb::DeviceRecord& d = *device;
    if (!d.connected || d.upgrade_wait || d.job_failed) return kDash;
    const bool coordinator = d.devtype == 0;
    switch (id) {
        case kColBaud:
            return TableText(zb::kBaudTexts, d.baud);
        case kColParity:
            return TableText(zb::kParityTexts, d.parity);
        case kColDatabit:
            return TableText(zb::kDatabitTexts, d.databit);
        case kColStopbit:
            return QString::number(std::int64_t{d.stopbit} + 1);
        case kColInterface:
            return TableText(zb::kInterfaceTexts, d.interface);
        case kColDevname:
            return FieldText(d.devname);
        case kColDevtype:
            return TableText(zb::kDevtypeTexts, d.devtype);
        case kColTopology:
            return TableText(zb::kTopologyTexts, d.topology);
        case kColMode:
            return coordinator ? TableText(zb::kTxmodeTexts, d.txmode) : kNotApplicable;
        case kColPanid:
            return Hex16(d.panid);
        case kColParentAddr:
            return Hex16(d.parent_addr);
        case kColShortAddr:
            return Hex16(d.short_addr);
        case kColLocalNode:
            if (coordinator && d.txmode == 0) return kNotApplicable;
            return QString::number(d.lnodeid);
        case kColChannel:
            return QString::number(std::int64_t{d.channel} + 11);
        case kColOutpower:
            return TableText(zb::kOutpowerTexts, d.outpower);
        case kColSecurity:
            return d.security ? QStringLiteral("Enable") : QStringLiteral("Disable");
        case kColFwVersion:
            return FieldText(d.fw_version);
        default:
            return kDash;
    }
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
            for (char digit : std::string_view("0123456789ABCDEF"))
                samples.append(Hex16(0x1111u * static_cast<std::uint32_t>(
                                                   digit <= '9' ? digit - '0' : digit - 'A' + 10)));
            break;
        case kColLocalNode:
        case kColChannel:
            samples.append({kNotApplicable, QStringLiteral("99"), QStringLiteral("88")});
            break;
        case kColSecurity:
            samples.append({QStringLiteral("Enable"), QStringLiteral("Disable")});
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
