#include "protocol/system_error.h"

#include <system_error>

namespace zb {

std::string system_error_text(unsigned long code) {
    // strerror's words, without its shared buffer.
    std::string text = std::generic_category().message(static_cast<int>(code));
    return text.empty() ? "system error " + std::to_string(code) : text;
}

}  // namespace zb
