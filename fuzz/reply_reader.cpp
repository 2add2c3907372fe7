// The reply reader over a real pseudo-terminal, and the loader check on what it delivers.
//
// Input: one byte for the size of the caller's buffer, one for the command number of the
// loader check, then the bytes the modem sends.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>

#include "protocol/command_frame.h"
#include "support/pty_link.h"
#include "support/reply_line.h"

namespace {

void Fail(const char* what) {
    std::fprintf(stderr, "invariant broken: %s\n", what);
    std::abort();
}

// Whether the loader answered instead of `cmd`: "DS" among header positions 2 to 8, and the
// command's own code not.
std::int32_t ExpectedCheck(std::int32_t cmd, const char* reply) {
    const std::size_t len = strnlen(reply, zb::REPLY_HEADER_LEN);
    if (len <= 2) return zb::ST_OK;
    const std::string_view header(reply + 2, len - 2);
    if (header.find("DS") == std::string_view::npos) return zb::ST_OK;
    for (const zb::CommandEntry& e : zb::command_table)
        if (e.number == cmd && header.find(std::string_view(e.code, 2)) != std::string_view::npos)
            return zb::ST_OK;
    return zb::ST_LOADER;
}

void CheckLoaderTest(std::int32_t cmd, const char* reply) {
    const std::int32_t r = zb::cmd_check_reply(cmd, reply);
    if (r != zb::ST_OK && r != zb::ST_LOADER) Fail("cmd_check_reply gave another code");
    if (r != ExpectedCheck(cmd, reply)) Fail("cmd_check_reply disagrees on the loader's DS");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2) return 0;
    const std::size_t cap = data[0];
    // Known and unknown numbers, negative ones included.
    const std::int32_t cmd = static_cast<std::int32_t>(data[1]) - 128;
    const zbfuzz::ReplyLine line = zbfuzz::MakeReplyLine({data + 2, size - 2});

    zbfuzz::PtyLink& pty = zbfuzz::PtyLink::Get();
    pty.Reset();
    pty.Send(line.wire);

    // Exactly cap bytes, so that any write past the caller's buffer is caught.
    auto out = std::make_unique<char[]>(cap);
    const std::int32_t r = zb::cmd_read_reply(pty.link(), out.get(), cap);

    std::int32_t expected = line.status;
    if (expected == zb::ST_OK && line.text.size() + 1 > cap) expected = zb::ST_BAD_REPLY;
    if (expected != zb::ST_OK) {
        if (r != expected) Fail("cmd_read_reply's failure differs from the line's");
        return 0;
    }
    if (r != static_cast<std::int32_t>(line.text.size() + 1))
        Fail("cmd_read_reply's length differs from the line's");
    if (std::memcmp(out.get(), line.text.data(), line.text.size()) != 0 ||
        out[line.text.size()] != '\0')
        Fail("cmd_read_reply delivered other characters than the line's");
    if (out[0] != '!') Fail("a delivered reply does not start at its '!'");

    CheckLoaderTest(cmd, out.get());
    // Also on the raw line, noise before the '!' included.
    const std::string raw(line.wire.begin(), line.wire.end());
    CheckLoaderTest(cmd, raw.c_str());
    return 0;
}
