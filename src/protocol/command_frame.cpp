#include "protocol/command_frame.h"

#include <chrono>
#include <cstdio>
#include <cstring>
#include <string_view>
#include <thread>

namespace zb {

namespace {
constexpr std::uint8_t GS = CLS_GET | CLS_SET;
constexpr std::uint8_t R = CLS_REVISION;
constexpr std::uint8_t V = CLS_VERIFY;
constexpr std::uint8_t C = CLS_CONTROL;

struct ClassEntry {
    std::uint8_t mask;
    char letter;
};
constexpr ClassEntry class_table[] = {
    {CLS_GET, 'G'}, {CLS_SET, 'S'}, {CLS_REVISION, 'R'}, {CLS_VERIFY, 'V'}, {CLS_CONTROL, 'C'},
};

// Commands below this number carry the sub-address '1' before their data.
constexpr std::int32_t FIRST_PLAIN_COMMAND = 9;
constexpr std::int32_t RESET_PAUSE_MS = 100;
}  // namespace

const CommandEntry command_table[COMMAND_COUNT] = {
    {0, GS, "SB"},  {1, GS, "SD"},  {2, GS, "SS"},  {3, GS, "SP"},    {4, GS, "SL"},
    {5, GS, "SI"},  {6, V, "ST"},   {7, V, "SX"},   {8, V | C, "SM"}, {9, GS, "ZC"},
    {10, GS, "ZO"}, {11, GS, "ZT"}, {12, GS, "ZM"}, {13, GS, "ZD"},   {14, GS, "ZP"},
    {15, GS, "ZE"}, {16, V, "ZA"},  {17, V, "ZU"},  {18, GS, "ZN"},   {19, C, "ZL"},
    {20, V, "ZJ"},  {21, GS, "BN"}, {22, GS, "ZS"}, {23, GS, "ZF"},   {24, C, "SR"},
    {25, C, "LD"},  {26, C, "XL"},  {27, C, "XF"},  {28, C, "XX"},    {29, C, "XY"},
    {30, C, "XZ"},  {31, C, "XA"},  {32, R, "@V"},  {33, V, "XT"},    {34, V, "DS"},
    {35, GS, "@M"}, {36, GS, "@S"},
};

const CommandEntry* cmd_find(std::int32_t number) {
    for (const CommandEntry& e : command_table)
        if (e.number == number) return &e;
    return nullptr;
}

char cmd_class_letter(std::uint8_t cls) {
    for (const ClassEntry& e : class_table)
        if (e.mask == cls) return e.letter;
    return 0;
}

std::int32_t cmd_build_frame(ComHandle link, std::uint8_t cls, std::int32_t cmd, std::int32_t addr,
                             const char* data, std::int32_t data_len, std::uint8_t* frame,
                             std::size_t cap, std::int32_t* frame_len) {
    if (link.is_null() || frame == nullptr || frame_len == nullptr) return ST_BAD_ARG;
    if (addr < 0 || addr > 0xFFFF) return ST_BAD_ARG;
    const CommandEntry* entry = cmd_find(cmd);
    if (entry == nullptr || (entry->classes & cls) == 0) return ST_BAD_ARG;
    const char letter = cmd_class_letter(cls);
    if (letter == 0) return ST_BAD_ARG;
    if (data != nullptr && data_len < 0) return ST_BAD_ARG;

    const std::size_t len_data = data != nullptr ? static_cast<std::size_t>(data_len) : 0;
    const bool sub_address = cmd < FIRST_PLAIN_COMMAND;
    const std::size_t extra = sub_address ? 1 + (data != nullptr ? 1 + len_data : 0) : len_data;
    const std::size_t total = 12 + extra;
    if (total > cap) return ST_BAD_ARG;

    std::size_t pos = 0;
    frame[pos++] = 0x10;
    frame[pos++] = 0x01;
    frame[pos++] = 0x01;
    char head[10];
    std::snprintf(head, sizeof head, "?%c%c%c%04X", letter, entry->code[0], entry->code[1],
                  static_cast<unsigned>(addr));
    std::memcpy(frame + pos, head, 8);
    pos += 8;
    if (sub_address) {
        frame[pos++] = '1';
        if (data != nullptr) frame[pos++] = ';';
    }
    if (len_data > 0) {
        std::memcpy(frame + pos, data, len_data);
        pos += len_data;
    }
    frame[pos++] = '\n';
    *frame_len = static_cast<std::int32_t>(pos);
    return ST_OK;
}

std::int32_t cmd_read_reply(ComHandle link, char* out, std::size_t cap) {
    if (out == nullptr) return ST_BAD_ARG;
    constexpr std::size_t LINE_BUF = REPLY_LINE_MAX + 1;
    char line[LINE_BUF] = {};
    std::size_t stored = 0;
    for (;;) {
        std::uint8_t byte = 0;
        if (com_read_short(link, &byte, 1) != 1) return ST_NO_REPLY;
        // A loader waiting for an image answers anything with its 'C'.
        if (stored == 0 && byte == 'C') return ST_LOADER;
        line[stored++] = static_cast<char>(byte);
        if (stored == LINE_BUF) return ST_BAD_REPLY;
        if (byte == '\n') break;
    }
    const char* bang = static_cast<const char*>(std::memchr(line, '!', stored));
    if (bang == nullptr) return ST_BAD_REPLY;
    const std::size_t chars = static_cast<std::size_t>(line + stored - 1 - bang);
    if (chars + 1 > cap) return ST_BAD_REPLY;
    std::memcpy(out, bang, chars);
    out[chars] = '\0';
    return static_cast<std::int32_t>(chars + 1);
}

std::int32_t cmd_transact(ComHandle link, std::uint8_t cls, std::int32_t cmd, std::int32_t addr,
                          const char* data, std::int32_t data_len, char* reply, std::size_t cap,
                          std::int32_t* reply_len) {
    if (link.is_null() || addr < 0 || addr > 0xFFFF) return ST_BAD_ARG;
    if (reply == nullptr || reply_len == nullptr || cap == 0) return ST_BAD_ARG;

    std::uint8_t frame[FRAME_BUF_SIZE] = {};
    std::int32_t frame_len = 0;
    std::int32_t r =
        cmd_build_frame(link, cls, cmd, addr, data, data_len, frame, sizeof frame, &frame_len);
    if (r < 0) return r;
    r = com_write(link, frame, static_cast<std::uint32_t>(frame_len));
    if (r < 0) return r;

    // The modem needs time to take the reset before it answers.
    if (cmd == CMD_SR) {
        std::this_thread::sleep_for(std::chrono::milliseconds(RESET_PAUSE_MS));
    }

    char text[REPLY_BUF_SIZE] = {};
    r = cmd_read_reply(link, text, sizeof text);
    if (r < 0) return r;
    if (static_cast<std::size_t>(r) > cap) return ST_BAD_REPLY;
    std::memcpy(reply, text, static_cast<std::size_t>(r));
    *reply_len = r;
    return ST_OK;
}

std::int32_t cmd_check_reply(std::int32_t cmd, const char* reply) {
    if (reply == nullptr) return ST_BAD_ARG;
    // Only the header after the marker and class counts: positions 2 to 8.
    const std::size_t len = strnlen(reply, REPLY_HEADER_LEN);
    if (len <= 2) return ST_OK;
    const std::string_view header(reply + 2, len - 2);
    if (header.find("DS") == std::string_view::npos) return ST_OK;
    const CommandEntry* entry = cmd_find(cmd);
    if (entry != nullptr && header.find(std::string_view(entry->code, 2)) != std::string_view::npos)
        return ST_OK;
    return ST_LOADER;
}

}  // namespace zb
