#include "ui/main/port_scan.h"

namespace zb::ui {

static_assert(zb::kMaxComNumber == static_cast<std::int32_t>(zb::kPortTableSize),
              "the scan numbers exactly the ports the table has rows for");

PortPresence NoPortsSeen() {
    PortPresence present;
    present.fill(-1);
    return present;
}

void MarkSeen(PortPresence& present, std::int64_t com) {
    if (const auto k = zb::RowOfCom(com)) present[*k] = 0;
}

void MergePresence(const PortPresence& present, zb::PortTable& rows) {
    for (std::size_t k = 0; k < rows.size(); ++k) {
        std::int16_t& state = rows[k].port_state;
        if (present[k] == -1 && state == 0) {
            state = -1;
        } else if (present[k] == 0 && state == -1) {
            state = 0;
        }
    }
}

}  // namespace zb::ui
