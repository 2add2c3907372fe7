// What a modem's reply line should turn into, worked out independently of the reader, and
// the exact bytes to send so that the reader stops at the end of them: the fuzz targets
// then never wait for a byte that will not come, and leave nothing behind for the next
// input.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "protocol/status.h"

namespace zbfuzz {

struct ReplyLine {
    std::vector<std::uint8_t> wire;   // what the modem sends
    std::int32_t status = zb::ST_OK;  // the reader's expected failure, or ST_OK
    std::string text;                 // on ST_OK: from '!' up to the newline, newline excluded
};

// The reader takes one line of at most 49 bytes, newline included; a first byte 'C' is the
// loader's request and ends the line at once. `bytes` that hold no newline early enough are
// completed with one, or cut where the reader gives up.
inline ReplyLine MakeReplyLine(std::span<const std::uint8_t> bytes) {
    constexpr std::size_t kLongest = 49;
    ReplyLine r;
    if (!bytes.empty() && bytes[0] == 'C') {
        r.wire = {'C'};
        r.status = zb::ST_LOADER;
        return r;
    }
    const std::size_t window = std::min(bytes.size(), kLongest);
    const auto nl = std::find(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(window),
                              std::uint8_t{'\n'});
    if (nl != bytes.begin() + static_cast<std::ptrdiff_t>(window)) {
        r.wire.assign(bytes.begin(), nl + 1);
    } else if (bytes.size() > kLongest) {
        r.wire.assign(bytes.begin(), bytes.begin() + kLongest + 1);
        r.status = zb::ST_BAD_REPLY;
        return r;
    } else {
        r.wire.assign(bytes.begin(), bytes.end());
        r.wire.push_back('\n');
        if (r.wire.size() > kLongest) {
            r.status = zb::ST_BAD_REPLY;
            return r;
        }
    }
    const auto bang = std::find(r.wire.begin(), r.wire.end(), std::uint8_t{'!'});
    if (bang == r.wire.end()) {
        r.status = zb::ST_BAD_REPLY;
        return r;
    }
    r.text.assign(bang, r.wire.end() - 1);
    return r;
}

}  // namespace zbfuzz
