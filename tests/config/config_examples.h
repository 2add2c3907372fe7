// The configuration file of the examples, its record, and file helpers for the tests.
#pragma once

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "config/config_file.h"

namespace zbtest {

namespace fs = std::filesystem;

inline constexpr const char* kExample =
    "[Serial]\nBaud Rate=16\nParity=0\nData Bit=8\nStop Bit=0\nInterface=0\n"
    "[ZigBee]\nDevice Name=Line 3\nDevice Type=1\nLocal Node ID=5\nDestination Node ID=0\n"
    "PAN ID=0x01a2\nChannel=0\nOutput Power=6\nTopology=0\nMode=0\nStart Byte=0x00\n"
    "Security=0\nAES Key=\n";

// The router on COM3 of the example: 115200 bit/s, node 5, PAN 0x01A2, channel 11, +1 dBm.
inline zb::DeviceRecord ExampleRecord() {
    zb::DeviceRecord r;
    r.baud = 16;
    r.devtype = 1;
    r.lnodeid = 5;
    r.panid = 0x01A2;
    r.outpower = 6;
    zb::SetText(r.devname, "Line 3");
    return r;
}

inline std::string Slurp(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

inline void Spit(const fs::path& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

// The example with some keys given other values (nullptr: the key removed).
inline std::string ExampleWith(std::vector<std::pair<std::string, const char*>> edits) {
    std::istringstream in(kExample);
    std::string out, line;
    while (std::getline(in, line)) {
        bool drop = false;
        for (const auto& [key, value] : edits) {
            if (line.rfind(key + "=", 0) != 0) continue;
            drop = value == nullptr;
            if (value != nullptr) line = key + "=" + value;
        }
        if (!drop) out += line + "\n";
    }
    return out;
}

inline auto Tie(const zb::ConfigSettings& s) {
    return std::tie(s.baud, s.parity, s.databit, s.stopbit, s.interface, s.devname, s.devtype,
                    s.rnodeid, s.panid, s.channel, s.outpower, s.topology, s.txmode, s.startbyte,
                    s.security, s.aeskey);
}

}  // namespace zbtest
