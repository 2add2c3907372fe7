// What both platforms' port discovery share: descriptions and Windows port names.
#include <cctype>

#include "protocol/port_discovery.h"

namespace zb {

std::string DescribePort(const std::string& product, const std::string& manufacturer) {
    if (manufacturer.empty() || manufacturer == product) return product;
    if (product.empty()) return manufacturer;
    return product + ", " + manufacturer;
}

std::int32_t ComNumberOfName(std::string_view name) {
    constexpr std::int32_t kLimit = 1'000'000;
    if (name.size() < 4 || name.size() > 10) return 0;
    for (std::size_t i = 0; i < 3; ++i)
        if (std::toupper(static_cast<unsigned char>(name[i])) != "COM"[i]) return 0;
    if (name[3] == '0') return 0;
    std::int32_t n = 0;
    for (const char c : name.substr(3)) {
        if (c < '0' || c > '9' || n >= kLimit) return 0;
        n = n * 10 + (c - '0');
    }
    return n;
}

}  // namespace zb
