// Shared pieces of the job window's tests: virtual modems on a private port map, port
// tables, a firmware image file, and running the modal window with a deadline.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "firmware_image.h"
#include "jobs/model/port_table.h"
#include "port_map.h"
#include "sim/simulator.h"
#include "ui/work/work_form.h"

namespace worktest {

// The program's port map, made by main() before any test starts; the tests' files go there too.
const zbtest::PortMap& Ports();

using zbtest::Rec;
using zbtest::TableWith;

// Writes a valid firmware image of type 0101 over `body_size` bytes; returns its size.
std::size_t WriteImage(const std::string& path, std::size_t body_size);
std::string ScratchPath(const std::string& name);

// Shows `form` modally; while it is up, `tick` runs on the GUI thread every few
// milliseconds. A window still up after 20 s fails the test and is closed by force.
void ExecWithin(zb::ui::Twork_form& form, const std::function<void()>& tick = {});

const zb::ui::StatusModel& Model(const zb::ui::Twork_form& form);
QString Cell(const zb::ui::Twork_form& form, int row, int column);

}  // namespace worktest
