#include "firmware_image.h"

#include <fstream>
#include <mutex>
#include <utility>

#include "jobs/engine/firmware_image.h"

namespace zbtest {

std::vector<std::uint8_t> PatternBody(std::size_t size) {
    return zb::PatternBody(size);
}

std::vector<std::uint8_t> MakeImage(const std::string& type, const std::vector<std::uint8_t>& body,
                                    const std::string& version) {
    return zb::MakeImage(type, body, version);
}

bool WriteFile(const std::string& path, const std::vector<std::uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
    return static_cast<bool>(out);
}

namespace {

// The rows TableWith made since they were last taken, while KeepRowsMade holds.
struct MadeRows {
    std::mutex mutex;
    bool keep = false;
    std::vector<zb::PortRow> rows;
};

MadeRows& Made() {
    static MadeRows made;
    return made;
}

}  // namespace

zb::PortTable TableWith(const std::vector<std::int32_t>& coms) {
    zb::PortTable table;
    for (std::int32_t com : coms) {
        zb::PortRow& row = table[static_cast<std::size_t>(com - 1)];
        zb::AddPort(row, static_cast<std::uint32_t>(com));
        std::lock_guard lock(Made().mutex);
        if (Made().keep) Made().rows.push_back(row);
    }
    return table;
}

void KeepRowsMade() {
    std::lock_guard lock(Made().mutex);
    Made().keep = true;
}

std::vector<zb::PortRow> TakeRowsMade() {
    std::lock_guard lock(Made().mutex);
    return std::exchange(Made().rows, {});
}

zb::DeviceRecord& Rec(zb::PortTable& table, std::int32_t com) {
    return *table[static_cast<std::size_t>(com - 1)].device;
}

}  // namespace zbtest
