// The caption of a port's row in every list of the program: "COM" and the port number.
#pragma once

#include <QString>

#include <cstdint>

namespace zb::ui {

QString ComCaption(std::int32_t com);

}  // namespace zb::ui
