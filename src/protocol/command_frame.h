// Command frames and the request/reply transaction.
//
// A request is three control bytes, '?', a class letter, a two-letter command code, four
// hex address digits, optional data and a newline. The reply is one line whose useful part
// starts at '!'. The tables are constant and every buffer belongs to one call, so
// transactions on different links run in parallel; on one link they run one after another.
#pragma once

#include <cstddef>
#include <cstdint>

#include "protocol/serial_link.h"

namespace zb {

// Request classes: one bit each.
inline constexpr std::uint8_t CLS_GET = 0x01;       // 'G'
inline constexpr std::uint8_t CLS_SET = 0x02;       // 'S'
inline constexpr std::uint8_t CLS_REVISION = 0x04;  // 'R'
inline constexpr std::uint8_t CLS_VERIFY = 0x08;    // 'V'
inline constexpr std::uint8_t CLS_CONTROL = 0x10;   // 'C'

// Command numbers the parameter commands use.
enum Command : std::int32_t {
    CMD_SB = 0,
    CMD_SD = 1,
    CMD_SS = 2,
    CMD_SP = 3,
    CMD_SL = 4,
    CMD_SI = 5,
    CMD_ST = 6,
    CMD_SX = 7,
    CMD_SM = 8,
    CMD_ZC = 9,
    CMD_ZO = 10,
    CMD_ZT = 11,
    CMD_ZM = 12,
    CMD_ZD = 13,
    CMD_ZP = 14,
    CMD_ZE = 15,
    CMD_ZA = 16,
    CMD_ZU = 17,
    CMD_ZN = 18,
    CMD_ZL = 19,
    CMD_ZJ = 20,
    CMD_BN = 21,
    CMD_ZS = 22,
    CMD_ZF = 23,
    CMD_SR = 24,
    CMD_LD = 25,
    CMD_XL = 26,
    CMD_XF = 27,
    CMD_XX = 28,
    CMD_XY = 29,
    CMD_XZ = 30,
    CMD_XA = 31,
    CMD_AV = 32,
    CMD_XT = 33,
    CMD_DS = 34,
    CMD_AM = 35,
    CMD_AS = 36,
};

struct CommandEntry {
    std::int32_t number;
    std::uint8_t classes;  // CLS_* bits allowed
    char code[3];
};

inline constexpr int COMMAND_COUNT = 37;
extern const CommandEntry command_table[COMMAND_COUNT];

// The entry for a command number, or nullptr.
const CommandEntry* cmd_find(std::int32_t number);
// The letter of a class mask (exactly one bit), or 0.
char cmd_class_letter(std::uint8_t cls);

inline constexpr std::size_t FRAME_BUF_SIZE = 128;
// Longest reply line, newline and any noise before '!' included.
inline constexpr std::size_t REPLY_LINE_MAX = 49;
// Reply buffer every caller provides: the line from '!' plus its terminator fits with room.
inline constexpr std::size_t REPLY_BUF_SIZE = 128;
// Reply header before the payload: '!', class, code, status, four characters.
inline constexpr std::size_t REPLY_HEADER_LEN = 9;
inline constexpr std::size_t REPLY_STATUS_POS = 4;

// Builds a request into frame[0..cap). ST_BAD_ARG for a null link or buffer, an address
// outside 0..65535, an unknown command, a class it does not allow or that is not one bit,
// or data that does not fit. *frame_len is written only on success.
std::int32_t cmd_build_frame(ComHandle link, std::uint8_t cls, std::int32_t cmd, std::int32_t addr,
                             const char* data, std::int32_t data_len, std::uint8_t* frame,
                             std::size_t cap, std::int32_t* frame_len);

// Reads one reply line byte by byte, each byte within the short wait. Delivers the text
// from '!' to before the newline, terminated, into out[0..cap) and returns its length plus
// one. ST_NO_REPLY when a byte does not arrive, ST_LOADER when the line's first byte is
// 'C', ST_BAD_REPLY for a line of 50 characters or one without '!' (or one that does not
// fit out).
std::int32_t cmd_read_reply(ComHandle link, char* out, std::size_t cap);

// Sends one request and reads its reply into reply[0..cap): the text from '!' and a
// terminator; *reply_len is its length plus one. A system reset waits 100 ms before
// reading. A failure's code is passed on unchanged; outputs are written only on success.
std::int32_t cmd_transact(ComHandle link, std::uint8_t cls, std::int32_t cmd, std::int32_t addr,
                          const char* data, std::int32_t data_len, char* reply, std::size_t cap,
                          std::int32_t* reply_len);

// ST_LOADER when the reply header holds the loader's "DS" instead of the command's own
// code; ST_OK otherwise; ST_BAD_ARG for a null reply.
std::int32_t cmd_check_reply(std::int32_t cmd, const char* reply);

}  // namespace zb
