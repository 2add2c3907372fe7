// Test and benchmark helpers: firmware images the virtual loader accepts, and port tables
// with fresh records. Plain functions; no test framework needed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "jobs/model/port_table.h"

namespace zbtest {

// A firmware image (zb::MakeImage, jobs/firmware_image.h), with the version the tests expect
// by default.
std::vector<std::uint8_t> MakeImage(const std::string& type, const std::vector<std::uint8_t>& body,
                                    const std::string& version = "SIM 2.0.0");
// A body of `size` pseudo-random bytes, the same every time.
std::vector<std::uint8_t> PatternBody(std::size_t size);
// Writes `bytes` to `path`; false when that fails.
bool WriteFile(const std::string& path, const std::vector<std::uint8_t>& bytes);

// A table with fresh records (selected, defaults of a new port) for the given COM numbers.
zb::PortTable TableWith(const std::vector<std::int32_t>& coms);
zb::DeviceRecord& Rec(zb::PortTable& table, std::int32_t com);
// From now on TableWith also keeps a copy of each row it makes (the same records), until
// TakeRowsMade hands them over: a test program can then close the links that jobs left open
// for a next job once each test ends.
void KeepRowsMade();
std::vector<zb::PortRow> TakeRowsMade();

}  // namespace zbtest
