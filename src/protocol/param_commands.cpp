#include "protocol/param_commands.h"

#include <cstdio>
#include <cstring>
#include <limits>

#include "protocol/command_frame.h"

namespace zb {
namespace {

struct Reply {
    char text[REPLY_BUF_SIZE] = {};
    std::int32_t len = 0;  // characters plus the terminator

    std::size_t chars() const { return len > 0 ? static_cast<std::size_t>(len - 1) : 0; }
    bool accepted() const { return chars() > REPLY_STATUS_POS && text[REPLY_STATUS_POS] == '0'; }
    // The value after the header; empty when the line is shorter than its header.
    const char* payload() const {
        return chars() > REPLY_HEADER_LEN ? text + REPLY_HEADER_LEN : "";
    }
};

bool bad_target(ComHandle link, std::int32_t addr) {
    return link.is_null() || addr < 0 || addr > 0xFFFF;
}

std::int32_t transact(ComHandle link, std::uint8_t cls, std::int32_t cmd, std::int32_t addr,
                      const char* data, Reply* reply) {
    const auto len = static_cast<std::int32_t>(data != nullptr ? std::strlen(data) : 0);
    return cmd_transact(link, cls, cmd, addr, data, len, reply->text, sizeof reply->text,
                        &reply->len);
}

// The common tail of writes and device actions.
std::int32_t write_op(ComHandle link, std::uint8_t cls, std::int32_t cmd, std::int32_t addr,
                      const char* data, bool check_loader) {
    Reply reply;
    std::int32_t r = transact(link, cls, cmd, addr, data, &reply);
    if (r < 0) return r;
    if (check_loader) {
        r = cmd_check_reply(cmd, reply.text);
        if (r < 0) return r;
    }
    return reply.accepted() ? ST_OK : ST_BAD_REPLY;
}

std::int32_t write_number(ComHandle link, std::int32_t cmd, std::int32_t addr, std::int32_t value,
                          SetRange range, const char* pattern = "%d") {
    if (bad_target(link, addr) || value < range.min || value > range.max) return ST_BAD_ARG;
    char data[FRAME_BUF_SIZE] = {};
    std::snprintf(data, sizeof data, pattern, value);
    return write_op(link, CLS_SET, cmd, addr, data, false);
}

void skip_space(const char*& p) {
    while (*p == ' ' || *p == '\t' || *p == '\r' || *p == '\n' || *p == '\v' || *p == '\f') ++p;
}

bool parse_decimal(const char* p, std::int32_t* value) {
    skip_space(p);
    bool negative = false;
    if (*p == '+' || *p == '-') negative = *p++ == '-';
    if (*p < '0' || *p > '9') return false;
    long long v = 0;
    for (; *p >= '0' && *p <= '9'; ++p) {
        v = v * 10 + (*p - '0');
        if (v > static_cast<long long>(std::numeric_limits<std::int32_t>::max()) + 1) return false;
    }
    if (negative) v = -v;
    if (v > std::numeric_limits<std::int32_t>::max()) return false;
    *value = static_cast<std::int32_t>(v);
    return true;
}

int hex_digit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// Up to max_digits hexadecimal digits of either case, after optional white space.
bool parse_hex(const char*& p, int max_digits, std::uint32_t* value) {
    skip_space(p);
    std::uint32_t v = 0;
    int n = 0;
    for (; n < max_digits && hex_digit(*p) >= 0; ++n, ++p)
        v = (v << 4) | static_cast<std::uint32_t>(hex_digit(*p));
    if (n == 0) return false;
    *value = v;
    return true;
}

enum class Pattern { Decimal, Hex4, Hex2, FwType };

std::int32_t read_number(ComHandle link, std::uint8_t cls, std::int32_t cmd, std::int32_t addr,
                         const char* data, Pattern pattern, std::int32_t* out) {
    if (bad_target(link, addr) || out == nullptr) return ST_BAD_ARG;
    Reply reply;
    const std::int32_t r = transact(link, cls, cmd, addr, data, &reply);
    if (r < 0) return r;
    if (!reply.accepted() || *reply.payload() == '\0') return ST_BAD_REPLY;

    const char* p = reply.payload();
    std::uint32_t hex = 0;
    std::int32_t value = 0;
    switch (pattern) {
        case Pattern::Decimal:
            if (!parse_decimal(p, &value)) return ST_BAD_REPLY;
            break;
        case Pattern::Hex4:
        case Pattern::Hex2:
            if (!parse_hex(p, pattern == Pattern::Hex4 ? 4 : 2, &hex)) return ST_BAD_REPLY;
            value = static_cast<std::int32_t>(hex);
            break;
        case Pattern::FwType:
            // Up to eight digits that are dropped, then the type itself.
            if (!parse_hex(p, 8, &hex) || !parse_hex(p, 4, &hex)) return ST_BAD_REPLY;
            value = static_cast<std::int32_t>(hex);
            break;
    }
    *out = value;
    return ST_OK;
}

std::int32_t read_text(ComHandle link, std::uint8_t cls, std::int32_t cmd, std::int32_t addr,
                       const char* data, char* out, std::size_t cap) {
    if (bad_target(link, addr) || out == nullptr || cap == 0) return ST_BAD_ARG;
    Reply reply;
    const std::int32_t r = transact(link, cls, cmd, addr, data, &reply);
    if (r < 0) return r;
    if (!reply.accepted()) return ST_BAD_REPLY;
    const char* payload = reply.payload();
    const std::size_t n = std::min(std::strlen(payload), cap - 1);
    std::memcpy(out, payload, n);
    out[n] = '\0';
    return ST_OK;
}

}  // namespace

std::int32_t dev_get_baud(ComHandle link, std::int32_t addr, std::int32_t* baud) {
    return read_number(link, CLS_GET, CMD_SB, addr, nullptr, Pattern::Decimal, baud);
}
std::int32_t dev_get_databit(ComHandle link, std::int32_t addr, std::int32_t* databits) {
    return read_number(link, CLS_GET, CMD_SD, addr, nullptr, Pattern::Decimal, databits);
}
std::int32_t dev_get_stopbit(ComHandle link, std::int32_t addr, std::int32_t* stopbit) {
    return read_number(link, CLS_GET, CMD_SS, addr, nullptr, Pattern::Decimal, stopbit);
}
std::int32_t dev_get_parity(ComHandle link, std::int32_t addr, std::int32_t* parity) {
    return read_number(link, CLS_GET, CMD_SP, addr, nullptr, Pattern::Decimal, parity);
}
std::int32_t dev_get_interface(ComHandle link, std::int32_t addr, std::int32_t* iface) {
    return read_number(link, CLS_GET, CMD_SI, addr, nullptr, Pattern::Decimal, iface);
}
std::int32_t dev_get_channel(ComHandle link, std::int32_t addr, std::int32_t* channel) {
    return read_number(link, CLS_GET, CMD_ZC, addr, nullptr, Pattern::Decimal, channel);
}
std::int32_t dev_get_outpower(ComHandle link, std::int32_t addr, std::int32_t* outpower) {
    return read_number(link, CLS_GET, CMD_ZO, addr, nullptr, Pattern::Decimal, outpower);
}
std::int32_t dev_get_topology(ComHandle link, std::int32_t addr, std::int32_t* topology) {
    return read_number(link, CLS_GET, CMD_ZT, addr, nullptr, Pattern::Decimal, topology);
}
std::int32_t dev_get_txmode(ComHandle link, std::int32_t addr, std::int32_t* txmode) {
    return read_number(link, CLS_GET, CMD_ZM, addr, nullptr, Pattern::Decimal, txmode);
}
std::int32_t dev_get_panid(ComHandle link, std::int32_t addr, std::int32_t* panid) {
    return read_number(link, CLS_GET, CMD_ZP, addr, nullptr, Pattern::Hex4, panid);
}
std::int32_t dev_get_devtype(ComHandle link, std::int32_t addr, std::int32_t* devtype) {
    return read_number(link, CLS_GET, CMD_ZE, addr, nullptr, Pattern::Decimal, devtype);
}
std::int32_t dev_get_parent_addr(ComHandle link, std::int32_t addr, std::int32_t* parent) {
    return read_number(link, CLS_VERIFY, CMD_ZA, addr, nullptr, Pattern::Hex4, parent);
}
std::int32_t dev_get_node_addr(ComHandle link, std::int32_t addr, std::int32_t nodeid,
                               std::int32_t* node_addr) {
    char data[16] = {};
    std::snprintf(data, sizeof data, "%d", nodeid);
    return read_number(link, CLS_VERIFY, CMD_ZU, addr, data, Pattern::Hex4, node_addr);
}
std::int32_t dev_get_nodeid(ComHandle link, std::int32_t addr, std::uint8_t selector,
                            std::int32_t* nodeid) {
    return read_number(link, CLS_GET, CMD_ZN, addr, selector == 0 ? "0" : "1", Pattern::Decimal,
                       nodeid);
}
std::int32_t dev_get_startbyte(ComHandle link, std::int32_t addr, std::uint8_t* startbyte) {
    if (startbyte == nullptr) return ST_BAD_ARG;
    std::int32_t value = 0;
    const std::int32_t r = read_number(link, CLS_GET, CMD_ZF, addr, nullptr, Pattern::Hex2, &value);
    if (r == ST_OK) *startbyte = static_cast<std::uint8_t>(value & 0xFF);
    return r;
}
std::int32_t dev_get_fw_type(ComHandle link, std::int32_t addr, std::int32_t* fw_type) {
    return read_number(link, CLS_VERIFY, CMD_DS, addr, "0", Pattern::FwType, fw_type);
}

std::int32_t dev_get_devname(ComHandle link, std::int32_t addr, char* out, std::size_t cap) {
    return read_text(link, CLS_GET, CMD_BN, addr, nullptr, out, cap);
}
std::int32_t dev_get_security(ComHandle link, std::int32_t addr, char* out, std::size_t cap) {
    return read_text(link, CLS_GET, CMD_ZS, addr, nullptr, out, cap);
}
std::int32_t dev_get_fw_version(ComHandle link, std::int32_t addr, char* out, std::size_t cap) {
    return read_text(link, CLS_REVISION, CMD_AV, addr, "0", out, cap);
}

std::int32_t dev_set_baud(ComHandle link, std::int32_t addr, std::int32_t baud) {
    return write_number(link, CMD_SB, addr, baud, BAUD_RANGE);
}
std::int32_t dev_set_databit(ComHandle link, std::int32_t addr, std::int32_t databits) {
    return write_number(link, CMD_SD, addr, databits, DATABIT_RANGE);
}
std::int32_t dev_set_stopbit(ComHandle link, std::int32_t addr, std::int32_t stopbit) {
    return write_number(link, CMD_SS, addr, stopbit, STOPBIT_RANGE);
}
std::int32_t dev_set_parity(ComHandle link, std::int32_t addr, std::int32_t parity) {
    return write_number(link, CMD_SP, addr, parity, PARITY_RANGE);
}
std::int32_t dev_set_interface(ComHandle link, std::int32_t addr, std::int32_t iface) {
    return write_number(link, CMD_SI, addr, iface, INTERFACE_RANGE);
}
std::int32_t dev_set_channel(ComHandle link, std::int32_t addr, std::int32_t channel) {
    return write_number(link, CMD_ZC, addr, channel, CHANNEL_RANGE);
}
std::int32_t dev_set_outpower(ComHandle link, std::int32_t addr, std::int32_t outpower) {
    return write_number(link, CMD_ZO, addr, outpower, OUTPOWER_RANGE);
}
std::int32_t dev_set_topology(ComHandle link, std::int32_t addr, std::int32_t topology) {
    return write_number(link, CMD_ZT, addr, topology, TOPOLOGY_RANGE);
}
std::int32_t dev_set_txmode(ComHandle link, std::int32_t addr, std::int32_t txmode) {
    return write_number(link, CMD_ZM, addr, txmode, TXMODE_RANGE);
}
std::int32_t dev_set_panid(ComHandle link, std::int32_t addr, std::int32_t panid) {
    return write_number(link, CMD_ZP, addr, panid, PANID_RANGE, "%04X");
}
std::int32_t dev_set_devtype(ComHandle link, std::int32_t addr, std::int32_t devtype) {
    return write_number(link, CMD_ZE, addr, devtype, DEVTYPE_RANGE);
}
std::int32_t dev_set_nodeid(ComHandle link, std::int32_t addr, std::uint8_t selector,
                            std::int32_t nodeid) {
    if (bad_target(link, addr) || nodeid < NODEID_RANGE.min || nodeid > NODEID_RANGE.max)
        return ST_BAD_ARG;
    char data[16] = {};
    std::snprintf(data, sizeof data, "%d%d", selector, nodeid);
    return write_op(link, CLS_SET, CMD_ZN, addr, data, false);
}
std::int32_t dev_set_devname(ComHandle link, std::int32_t addr, const char* name) {
    if (bad_target(link, addr) || name == nullptr) return ST_BAD_ARG;
    if (strnlen(name, DEVNAME_MAX + 1) > DEVNAME_MAX) return ST_BAD_ARG;
    return write_op(link, CLS_SET, CMD_BN, addr, name, false);
}
std::int32_t dev_set_security(ComHandle link, std::int32_t addr, char flag, const char* key) {
    if (bad_target(link, addr)) return ST_BAD_ARG;
    char data[1 + AES_KEY_LEN + 1] = {flag};
    if (flag == '1') {
        if (key == nullptr || strnlen(key, AES_KEY_LEN) < AES_KEY_LEN) return ST_BAD_ARG;
        std::memcpy(data + 1, key, AES_KEY_LEN);
    }
    return write_op(link, CLS_SET, CMD_ZS, addr, data, false);
}
std::int32_t dev_set_startbyte(ComHandle link, std::int32_t addr, std::uint8_t startbyte) {
    return write_number(link, CMD_ZF, addr, startbyte, STARTBYTE_RANGE, "%x");
}

std::int32_t dev_check_connection(ComHandle link, std::int32_t addr, std::int32_t flag) {
    if (bad_target(link, addr)) return ST_BAD_ARG;
    Reply reply;
    std::int32_t r = transact(link, CLS_VERIFY, CMD_XT, addr, flag == 0 ? "0" : "1", &reply);
    if (r < 0) return r;
    r = cmd_check_reply(CMD_XT, reply.text);
    if (r < 0) return r;
    // Some firmware answers the check with "OK" under a non-zero status.
    const char* payload = reply.payload();
    if (reply.accepted() || payload[0] == 'O' || (payload[0] != '\0' && payload[1] == 'K'))
        return ST_OK;
    return ST_BAD_REPLY;
}
std::int32_t dev_request_upgrade(ComHandle link, std::int32_t addr) {
    if (bad_target(link, addr)) return ST_BAD_ARG;
    return write_op(link, CLS_CONTROL, CMD_XF, addr, "0", true);
}
std::int32_t dev_system_reset(ComHandle link, std::int32_t addr, std::int32_t mode) {
    if (bad_target(link, addr) || mode < 0 || mode > 1) return ST_BAD_ARG;
    char data[4] = {};
    std::snprintf(data, sizeof data, "%d", mode);
    return write_op(link, CLS_CONTROL, CMD_SR, addr, data, true);
}

}  // namespace zb
