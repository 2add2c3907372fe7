#include "jobs/model/port_table.h"

#include <utility>

#include "jobs/model/record_fields.h"

namespace zb {

std::optional<std::size_t> RowOfCom(std::int64_t com) {
    if (com < 1 || com > static_cast<std::int64_t>(kPortTableSize)) return std::nullopt;
    return static_cast<std::size_t>(com - 1);
}

std::shared_ptr<DeviceRecord> AddPort(PortRow& row, std::uint32_t com_no) {
    if (!row.port_lock) row.port_lock = std::make_shared<std::mutex>();
    auto record = std::make_shared<DeviceRecord>();
    record->com_no = com_no;
    record->selected = true;
    SetInitialValues(*record);
    std::lock_guard lock(*row.port_lock);
    row.device = record;
    row.port_state = 1;
    return record;
}

void RemovePort(PortRow& row) {
    row.port_state = 0;
    if (!row.port_lock) {
        row.device.reset();
        return;
    }
    std::lock_guard lock(*row.port_lock);
    if (row.device && row.device->link) {
        (void)com_close(row.device->link);
        row.device->link = ComHandle();
        row.device->is_open = false;
    }
    row.device.reset();
}

void MarkPort(PortRow& row) {
    if (!row.device || !row.port_lock) return;
    std::lock_guard lock(*row.port_lock);
    row.device->selected = true;
}

void UnmarkPort(PortRow& row) {
    if (!row.device || !row.port_lock) return;
    ComHandle link;
    {
        std::lock_guard lock(*row.port_lock);
        row.device->selected = false;
        row.device->is_open = false;
        link = std::exchange(row.device->link, ComHandle());
    }
    if (link) (void)com_close(link);
}

void SetUpgradeMark(PortRow& row, bool on) {
    if (!row.device || !row.port_lock) return;
    std::lock_guard lock(*row.port_lock);
    row.device->upgrade_pending = on;
}

}  // namespace zb
