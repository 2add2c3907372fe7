// The read commands' judgement of a reply and their number and text conversions, over a
// real pseudo-terminal.
//
// Input: one byte choosing the read, one byte for the size of a text read's buffer, then
// the bytes the modem sends.
#include <cctype>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>
#include <optional>
#include <string>

#include "protocol/command_frame.h"
#include "protocol/param_commands.h"
#include "support/pty_link.h"
#include "support/reply_line.h"

namespace {

using zb::ComHandle;

void Fail(const char* what) {
    std::fprintf(stderr, "invariant broken: %s\n", what);
    std::abort();
}

enum class Kind { Decimal, Hex4, Hex2, FwType, Text, Connection };

struct Read {
    Kind kind;
    std::int32_t (*number)(ComHandle, std::int32_t*);
    std::int32_t (*text)(ComHandle, char*, std::size_t);
};

constexpr std::int32_t kSentinel = 0x5A5A5A5A;

const Read kReads[] = {
    {Kind::Decimal, [](ComHandle l, std::int32_t* v) { return zb::dev_get_baud(l, 0, v); }, {}},
    {Kind::Decimal, [](ComHandle l, std::int32_t* v) { return zb::dev_get_databit(l, 0, v); }, {}},
    {Kind::Decimal, [](ComHandle l, std::int32_t* v) { return zb::dev_get_stopbit(l, 0, v); }, {}},
    {Kind::Decimal, [](ComHandle l, std::int32_t* v) { return zb::dev_get_parity(l, 0, v); }, {}},
    {Kind::Decimal,
     [](ComHandle l, std::int32_t* v) { return zb::dev_get_interface(l, 0, v); },
     {}},
    {Kind::Decimal, [](ComHandle l, std::int32_t* v) { return zb::dev_get_channel(l, 0, v); }, {}},
    {Kind::Decimal, [](ComHandle l, std::int32_t* v) { return zb::dev_get_outpower(l, 0, v); }, {}},
    {Kind::Decimal, [](ComHandle l, std::int32_t* v) { return zb::dev_get_topology(l, 0, v); }, {}},
    {Kind::Decimal, [](ComHandle l, std::int32_t* v) { return zb::dev_get_txmode(l, 0, v); }, {}},
    {Kind::Decimal, [](ComHandle l, std::int32_t* v) { return zb::dev_get_devtype(l, 0, v); }, {}},
    {Kind::Decimal,
     [](ComHandle l, std::int32_t* v) { return zb::dev_get_nodeid(l, 0, 0, v); },
     {}},
    {Kind::Decimal,
     [](ComHandle l, std::int32_t* v) { return zb::dev_get_nodeid(l, 0, 1, v); },
     {}},
    {Kind::Hex4, [](ComHandle l, std::int32_t* v) { return zb::dev_get_panid(l, 0, v); }, {}},
    {Kind::Hex4, [](ComHandle l, std::int32_t* v) { return zb::dev_get_parent_addr(l, 0, v); }, {}},
    {Kind::Hex4,
     [](ComHandle l, std::int32_t* v) { return zb::dev_get_node_addr(l, 0, 0, v); },
     {}},
    {Kind::Hex2,
     [](ComHandle l, std::int32_t* v) {
         std::uint8_t b = 0x5A;
         const std::int32_t r = zb::dev_get_startbyte(l, 0, &b);
         if (r != zb::ST_OK && b != 0x5A) Fail("dev_get_startbyte changed its result on failure");
         if (r == zb::ST_OK) *v = b;
         return r;
     },
     {}},
    {Kind::FwType, [](ComHandle l, std::int32_t* v) { return zb::dev_get_fw_type(l, 0, v); }, {}},
    {Kind::Text,
     {},
     [](ComHandle l, char* o, std::size_t c) { return zb::dev_get_devname(l, 0, o, c); }},
    {Kind::Text,
     {},
     [](ComHandle l, char* o, std::size_t c) { return zb::dev_get_security(l, 0, o, c); }},
    {Kind::Text,
     {},
     [](ComHandle l, char* o, std::size_t c) { return zb::dev_get_fw_version(l, 0, o, c); }},
    {Kind::Connection,
     [](ComHandle l, std::int32_t*) { return zb::dev_check_connection(l, 0, 0); },
     {}},
};

bool IsSpace(char c) {
    return c == ' ' || (c >= '\t' && c <= '\r');
}

// Up to `max` hexadecimal digits after white space, read with the library's own parser.
std::optional<std::uint32_t> LeadingHexDigits(const char*& p, std::size_t max) {
    while (IsSpace(*p)) ++p;
    std::size_t n = 0;
    while (n < max && std::isxdigit(static_cast<unsigned char>(p[n])) != 0) ++n;
    if (n == 0) return std::nullopt;
    const std::string digits(p, n);
    p += n;
    return static_cast<std::uint32_t>(std::strtoul(digits.c_str(), nullptr, 16));
}

std::optional<std::int32_t> ExpectedNumber(Kind kind, const char* payload) {
    const char* p = payload;
    switch (kind) {
        case Kind::Decimal: {
            char* end = nullptr;
            errno = 0;
            const long long v = std::strtoll(p, &end, 10);
            if (end == p || errno == ERANGE || v < std::numeric_limits<std::int32_t>::min() ||
                v > std::numeric_limits<std::int32_t>::max())
                return std::nullopt;
            return static_cast<std::int32_t>(v);
        }
        case Kind::Hex4:
        case Kind::Hex2: {
            const auto v = LeadingHexDigits(p, kind == Kind::Hex4 ? 4 : 2);
            if (!v) return std::nullopt;
            return static_cast<std::int32_t>(*v);
        }
        case Kind::FwType: {
            if (!LeadingHexDigits(p, 8)) return std::nullopt;
            const auto v = LeadingHexDigits(p, 4);
            if (!v) return std::nullopt;
            return static_cast<std::int32_t>(*v);
        }
        default:
            return std::nullopt;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    constexpr std::size_t kReadCount = sizeof kReads / sizeof kReads[0];
    if (size < 2) return 0;
    const Read& read = kReads[data[0] % kReadCount];
    const std::size_t cap = 1 + data[1] % 64;
    const zbfuzz::ReplyLine line = zbfuzz::MakeReplyLine({data + 2, size - 2});

    zbfuzz::PtyLink& pty = zbfuzz::PtyLink::Get();
    pty.Reset();
    pty.Send(line.wire);

    // The reply as the caller sees it: header positions and the payload up to its first NUL.
    const std::string& text = line.text;
    const bool accepted = text.size() > zb::REPLY_STATUS_POS && text[zb::REPLY_STATUS_POS] == '0';
    const std::string payload =
        text.size() > zb::REPLY_HEADER_LEN ? std::string(text.c_str() + zb::REPLY_HEADER_LEN) : "";

    if (read.kind == Kind::Text) {
        const auto out = std::make_unique<char[]>(cap);
        std::memset(out.get(), 0x5A, cap);
        const std::int32_t r = read.text(pty.link(), out.get(), cap);
        std::int32_t expected = line.status;
        if (expected == zb::ST_OK && !accepted) expected = zb::ST_BAD_REPLY;
        if (r != expected) Fail("a text read judged the reply wrongly");
        if (r != zb::ST_OK) {
            for (std::size_t i = 0; i < cap; ++i)
                if (out[i] != 0x5A) Fail("a failed text read changed its buffer");
            return 0;
        }
        const std::size_t n = std::min(payload.size(), cap - 1);
        if (payload.compare(0, n, out.get(), n) != 0 || out[n] != '\0')
            Fail("a text read delivered other than the payload");
        return 0;
    }

    std::int32_t value = kSentinel;
    const std::int32_t r = read.number(pty.link(), &value);

    if (read.kind == Kind::Connection) {
        std::int32_t expected = line.status;
        if (expected == zb::ST_OK) {
            expected = zb::cmd_check_reply(zb::CMD_XT, text.c_str());
            const bool ok = accepted || (!payload.empty() && payload[0] == 'O') ||
                            (payload.size() > 1 && payload[1] == 'K');
            if (expected == zb::ST_OK && !ok) expected = zb::ST_BAD_REPLY;
        }
        if (r != expected) Fail("the connection check judged the reply wrongly");
        return 0;
    }

    std::optional<std::int32_t> expected_value;
    std::int32_t expected = line.status;
    if (expected == zb::ST_OK) {
        if (accepted && !payload.empty())
            expected_value = ExpectedNumber(read.kind, payload.c_str());
        if (!expected_value) expected = zb::ST_BAD_REPLY;
    }
    if (r != expected) Fail("a numeric read judged the reply wrongly");
    if (r != zb::ST_OK) {
        if (value != kSentinel) Fail("a failed numeric read changed its result");
        return 0;
    }
    if (value != *expected_value) Fail("a numeric read converted the payload wrongly");
    if ((read.kind == Kind::Hex4 || read.kind == Kind::FwType) && (value < 0 || value > 0xFFFF))
        Fail("a four-digit hexadecimal read lies outside 0..0xFFFF");
    if (read.kind == Kind::Hex2 && (value < 0 || value > 0xFF))
        Fail("a start byte lies outside 0..0xFF");
    return 0;
}
