#include "sim/modem.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <optional>

#include "protocol/xmodem.h"
#include "sim/image.h"

namespace zbsim {
namespace {

constexpr std::uint8_t kSoh = 0x01;
constexpr std::uint8_t kEot = 0x04;
constexpr std::uint8_t kAck = 0x06;
constexpr std::uint8_t kDle = 0x10;
constexpr std::uint8_t kNak = 0x15;
constexpr std::uint8_t kCan = 0x18;
constexpr char kBeacon = 'C';
constexpr char kNoiseByte = 0x78;

constexpr std::size_t kBlockSize = 133;
constexpr std::size_t kBlockData = 128;
// A request that runs this long without its newline is noise.
constexpr std::size_t kMaxLine = 200;
// The reply line, newline included, stays within 49 characters: 9 header + 39 + '\n'.
constexpr std::size_t kMaxPayload = 39;
constexpr std::size_t kLongLine = 50;
// Input beyond this is lost, as a device's overrun would lose it.
constexpr std::size_t kMaxRx = 65536;
constexpr std::size_t kMaxTx = 65536;

// A partial request or block is given up after this much silence on the line.
constexpr Nanos kSilence = kSecond;
constexpr Nanos kBeaconPeriod = kSecond;
// A transfer whose sender has gone quiet this long is over; the loader asks again.
constexpr Nanos kTransferIdle = 10 * kSecond;
// While the line is busy, bytes are handed over in batches at most this far apart, so that
// a thousand talking modems do not cost a wake-up per byte each.
constexpr Nanos kTxBatch = kMillisecond;

enum ClassBit : unsigned { kG = 1, kS = 2, kR = 4, kV = 8, kC = 16 };

struct CommandInfo {
    char code[3];
    int number;
    unsigned classes;
};

constexpr CommandInfo kCommands[] = {
    {"SB", 0, kG | kS},  {"SD", 1, kG | kS},  {"SS", 2, kG | kS},  {"SP", 3, kG | kS},
    {"SL", 4, kG | kS},  {"SI", 5, kG | kS},  {"ST", 6, kV},       {"SX", 7, kV},
    {"SM", 8, kV | kC},  {"ZC", 9, kG | kS},  {"ZO", 10, kG | kS}, {"ZT", 11, kG | kS},
    {"ZM", 12, kG | kS}, {"ZD", 13, kG | kS}, {"ZP", 14, kG | kS}, {"ZE", 15, kG | kS},
    {"ZA", 16, kV},      {"ZU", 17, kV},      {"ZN", 18, kG | kS}, {"ZL", 19, kC},
    {"ZJ", 20, kV},      {"BN", 21, kG | kS}, {"ZS", 22, kG | kS}, {"ZF", 23, kG | kS},
    {"SR", 24, kC},      {"LD", 25, kC},      {"XL", 26, kC},      {"XF", 27, kC},
    {"XX", 28, kC},      {"XY", 29, kC},      {"XZ", 30, kC},      {"XA", 31, kC},
    {"@V", 32, kR},      {"XT", 33, kV},      {"DS", 34, kV},      {"@M", 35, kG | kS},
    {"@S", 36, kG | kS},
};

struct NumericSetting {
    char code[3];
    int ModemSettings::*field;
    int min;
    int max;
};

constexpr NumericSetting kNumeric[] = {
    {"SB", &ModemSettings::baud, 0, 17},    {"SD", &ModemSettings::databits, 8, 9},
    {"SS", &ModemSettings::stopbit, 0, 1},  {"SP", &ModemSettings::parity, 0, 2},
    {"SI", &ModemSettings::iface, 0, 3},    {"ZC", &ModemSettings::channel, 11, 26},
    {"ZO", &ModemSettings::outpower, 0, 7}, {"ZT", &ModemSettings::topology, 0, 2},
    {"ZM", &ModemSettings::txmode, 0, 1},   {"ZE", &ModemSettings::devtype, 0, 2},
};

const CommandInfo* find_command(const std::string& code) {
    for (const auto& c : kCommands)
        if (code == c.code) return &c;
    return nullptr;
}

unsigned class_bit(char letter) {
    switch (letter) {
        case 'G':
            return kG;
        case 'S':
            return kS;
        case 'R':
            return kR;
        case 'V':
            return kV;
        case 'C':
            return kC;
        default:
            return 0;
    }
}

int hex_digit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// Digits only, 1..max_digits of them: no sign, no spaces, nothing after.
bool parse_number(const std::string& text, int base, std::size_t max_digits, int* value) {
    if (text.empty() || text.size() > max_digits) return false;
    int v = 0;
    for (char c : text) {
        const int d = hex_digit(c);
        if (d < 0 || d >= base) return false;
        v = v * base + d;
    }
    *value = v;
    return true;
}

bool is_hex_text(const std::string& text) {
    return std::all_of(text.begin(), text.end(), [](char c) { return hex_digit(c) >= 0; });
}

std::string format(const char* pattern, int value) {
    char buf[32];
    std::snprintf(buf, sizeof buf, pattern, value);
    return buf;
}

}  // namespace

std::string printable(const std::string& bytes) {
    std::string out;
    out.reserve(bytes.size());
    for (char c : bytes) {
        if (c >= 0x20 && c < 0x7F && c != '\\') {
            out.push_back(c);
        } else {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\x%02X", static_cast<unsigned char>(c));
            out += buf;
        }
    }
    return out;
}

Modem::Modem(int com, Nanos byte_time, LogSink* log, bool record)
    : com_(com), byte_time_(byte_time), log_(log), record_(record) {
    settings_.devname = "SIM-" + std::to_string(com);
}

// ---- Input ------------------------------------------------------------------------------

void Modem::receive(const std::uint8_t* data, std::size_t size, Nanos now) {
    Nanos t = std::max(now, rx_free_);
    for (std::size_t i = 0; i < size && rx_.size() < kMaxRx; ++i) {
        t += byte_time_;
        rx_.push_back(static_cast<char>(data[i]));
        rx_time_.push_back(t);
    }
    rx_free_ = t;
}

void Modem::consume(std::size_t count) {
    count = std::min(count, rx_.size());
    rx_.erase(0, count);
    rx_time_.erase(rx_time_.begin(), rx_time_.begin() + static_cast<std::ptrdiff_t>(count));
}

// From the '?' at `start` to its newline. A line broken off by a frame start (0x10), by a
// second of silence or by running too long is dropped: kind None, scanning goes on at end.
Modem::Unit Modem::scan_line(std::size_t start) const {
    Unit u;
    u.begin = start;
    const std::size_t n = rx_.size();
    for (std::size_t j = start + 1; j < n; ++j) {
        if (rx_time_[j] - rx_time_[j - 1] > kSilence || static_cast<std::uint8_t>(rx_[j]) == kDle ||
            j - start > kMaxLine) {
            u.end = j;
            return u;
        }
        if (rx_[j] == '\n') {
            u.kind = Unit::Request;
            u.end = j + 1;
            u.due = rx_time_[j];
            return u;
        }
    }
    u.kind = Unit::Partial;
    u.end = n;
    u.due = rx_time_[n - 1] + kSilence;
    return u;
}

Modem::Unit Modem::scan() const {
    if (mode_ == ModemMode::Loader) return scan_loader();
    const std::size_t n = rx_.size();
    std::size_t i = 0;
    while (i < n) {
        if (rx_[i] != '?') {
            ++i;
            continue;
        }
        const Unit u = scan_line(i);
        if (u.kind != Unit::None) return u;
        i = u.end;
    }
    Unit none;
    none.begin = none.end = n;
    return none;
}

// The loader looks for blocks, EOT and command frames. Between transfers anything else is
// skipped. During a transfer anything else is a damaged block: everything up to a second
// of silence is dropped and then answered with NAK, so that an EOT or a '?' inside the
// damaged data is not taken for what it is not.
Modem::Unit Modem::scan_loader() const {
    static const std::string kFrameStart("\x10\x01\x01?", 4);
    const std::size_t n = rx_.size();
    Unit u;
    std::size_t i = 0;
    while (i < n) {
        u = Unit();
        u.begin = i;
        const auto b = static_cast<std::uint8_t>(rx_[i]);
        const std::size_t left = n - i;
        if (b == kDle && rx_.compare(i, std::min(left, kFrameStart.size()), kFrameStart, 0,
                                     std::min(left, kFrameStart.size())) == 0) {
            if (left < kFrameStart.size()) {
                u.kind = Unit::Partial;
                u.end = n;
                u.due = rx_time_[n - 1] + kSilence;
                return u;
            }
            const Unit line = scan_line(i + 3);
            if (line.kind == Unit::Partial ||
                (line.kind == Unit::Request && (!transferring_ || well_formed(line))))
                return line;
            if (!transferring_) {
                i = line.end;
                continue;
            }
        } else if (b == '?') {
            const Unit line = scan_line(i);
            if (!transferring_) {
                if (line.kind != Unit::None) return line;
                i = line.end;
                continue;
            }
            if (line.kind == Unit::Request && well_formed(line)) return line;
        } else if (b == kSoh && (left < 3 || static_cast<std::uint8_t>(rx_[i + 2]) ==
                                                 static_cast<std::uint8_t>(~rx_[i + 1]))) {
            u.end = std::min(n, i + kBlockSize);
            // Bytes after a second of silence belong to whatever the sender tried next.
            for (std::size_t j = i + 1; j < u.end; ++j)
                if (rx_time_[j] - rx_time_[j - 1] > kSilence) u.end = j;
            if (u.end - i < kBlockSize) {
                u.kind = Unit::Partial;
                u.due = rx_time_[u.end - 1] + kSilence;
                u.block = u.end - i >= 3;
            } else {
                u.kind = Unit::Block;
                u.due = rx_time_[u.end - 1];
            }
            return u;
        } else if (b == kEot) {
            u.kind = Unit::Eot;
            u.end = i + 1;
            u.due = rx_time_[i];
            return u;
        } else if (!transferring_) {
            ++i;
            continue;
        }
        // A damaged block: runs to the first second of silence.
        std::size_t j = i + 1;
        while (j < n && rx_time_[j] - rx_time_[j - 1] <= kSilence) ++j;
        u.kind = Unit::Partial;
        u.end = j;
        u.due = rx_time_[j - 1] + kSilence;
        u.block = true;
        return u;
    }
    u = Unit();
    u.begin = u.end = n;
    return u;
}

bool Modem::well_formed(const Unit& line) const {
    if (line.end - line.begin < 9) return false;
    int addr = 0;
    return class_bit(rx_[line.begin + 1]) != 0 &&
           find_command(rx_.substr(line.begin + 2, 2)) != nullptr &&
           parse_number(rx_.substr(line.begin + 4, 4), 16, 4, &addr);
}

// ---- Scheduling -------------------------------------------------------------------------

void Modem::run(Nanos now, std::string* out) {
    if (transferring_ && last_block_ + kTransferIdle <= now) {
        log("transfer abandoned");
        reset_transfer(now);
    }
    for (;;) {
        const Unit u = scan();
        const Nanos beacon = beacon_due(u);
        if (beacon <= now && beacon <= u.due) {
            send_byte(static_cast<std::uint8_t>(beacon_byte()), beacon);
            next_beacon_ = beacon + beacon_period();
            // After a stall, one beacon rather than a burst of them.
            if (next_beacon_ <= now) next_beacon_ = now + beacon_period();
            continue;
        }
        consume(u.begin);
        if (u.kind == Unit::None || u.due > now) break;
        const std::size_t length = u.end - u.begin;
        switch (u.kind) {
            case Unit::Partial:
                consume(length);
                if (u.block) {
                    log("block " + std::to_string(accepted_ + 1) + " nak (timeout)");
                    send_byte(kNak, u.due);
                    // The NAK already asks for the block; no beacon right on its heels.
                    next_beacon_ = std::max(next_beacon_, u.due + kBeaconPeriod);
                }
                break;
            case Unit::Request: {
                const std::string line = rx_.substr(0, length - 1);
                consume(length);
                handle_request(line, u.due);
                break;
            }
            case Unit::Block: {
                std::uint8_t block[kBlockSize];
                std::memcpy(block, rx_.data(), kBlockSize);
                consume(length);
                handle_block(block, u.due);
                break;
            }
            case Unit::Eot:
                consume(length);
                handle_eot(u.due);
                break;
            case Unit::None:
                break;
        }
    }

    bool wrote = false;
    while (!tx_.empty() && tx_.front().due <= now) {
        out->push_back(tx_.front().byte);
        tx_.pop_front();
        wrote = true;
    }
    if (wrote) last_write_ = now;
}

// The loader asks for a transfer until one starts; not while a block is coming in.
Nanos Modem::beacon_due(const Unit& front) const {
    if (mode_ != ModemMode::Loader || transferring_ || front.kind == Unit::Partial) return kNever;
    return next_beacon_;
}

char Modem::beacon_byte() const {
    return find_fault(FaultKind::SyncJunk) != nullptr ? kNoiseByte : kBeacon;
}

Nanos Modem::beacon_period() const {
    const ActiveFault* junk = find_fault(FaultKind::SyncJunk);
    // At least a millisecond: a period of 0 would send without end in one run().
    return junk != nullptr ? std::max(junk->fault.ms, 1) * kMillisecond : kBeaconPeriod;
}

Nanos Modem::next_deadline() const {
    const Unit u = scan();
    Nanos deadline = std::min(u.due, beacon_due(u));
    if (transferring_) deadline = std::min(deadline, last_block_ + kTransferIdle);
    if (!tx_.empty()) {
        Nanos t = tx_.front().due;
        // A byte that started on the wire before the last hand-over belongs to the running
        // batch; a byte that starts a fresh burst (an ACK, a beacon) goes out on time.
        if (last_write_ != kNever && t - byte_time_ <= last_write_)
            t = std::max(t, last_write_ + kTxBatch);
        deadline = std::min(deadline, t);
    }
    return deadline;
}

// ---- Requests ---------------------------------------------------------------------------

void Modem::handle_request(const std::string& line, Nanos at) {
    ++commands_;
    std::string text = printable(line);
    log(text);
    if (record_) {
        requests_.push_back(std::move(text));
        if (requests_.size() > kMaxRequests) requests_.pop_front();
    }
    for (auto& f : faults_)
        if (f.fault.kind == FaultKind::StopAfter) ++f.seen;

    if (mode_ == ModemMode::Loader) {
        loader_answer(line, at);
        return;
    }
    // Too short to carry class, code and address: nothing a modem could answer.
    if (line.size() < 8) return;
    if (const ActiveFault* f = find_fault(FaultKind::LoaderAnswer)) {
        if (f->fault.count == 0)
            send_raw(std::string(1, kBeacon), at);
        else
            send_line({'V', "DS", '0', line.substr(4, 4), fw_type_text()}, at);
        return;
    }

    Reply reply;
    const After after = execute(line, &reply);
    send_line(reply, at);
    switch (after) {
        case After::Nothing:
            break;
        case After::Restart:
            ++restarts_;
            upgrade_armed_ = false;
            break;
        case After::EnterLoader:
            upgrade_armed_ = false;
            // The loader starts asking once the reply is out and the reset is done.
            enter_loader(tx_free_ + kBeaconPeriod);
            break;
    }
}

// The loader answers the four commands a tool sends around an upgrade with its "DS" line
// (so the tool can still read the firmware type) and everything else with a bare 'C'.
void Modem::loader_answer(const std::string& line, Nanos at) {
    if (transferring_) {
        // A sender that talks commands again has given up on its transfer.
        log("transfer abandoned");
        reset_transfer(at + kBeaconPeriod);
    }
    const std::string code = line.size() >= 4 ? line.substr(2, 2) : std::string();
    if (line.size() >= 8 && (code == "XT" || code == "XF" || code == "SR" || code == "DS")) {
        send_line({'V', "DS", '0', line.substr(4, 4), fw_type_text()}, at);
    } else {
        send_raw(std::string(1, kBeacon), at);
    }
}

std::string Modem::fw_type_text() const {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%08x%04x", 0,
                  static_cast<unsigned>(settings_.fw_type) & 0xFFFFu);
    return buf;
}

Modem::After Modem::execute(const std::string& line, Reply* reply) {
    reply->cls = line[1];
    reply->code = line.substr(2, 2);
    reply->addr = line.substr(4, 4);
    for (char& c : reply->addr)
        if (c < 0x20 || c >= 0x7F) c = '0';
    reply->status = '1';

    int addr = 0;
    const CommandInfo* cmd = find_command(reply->code);
    const unsigned cls = class_bit(reply->cls);
    if (line.size() < 8 || !parse_number(line.substr(4, 4), 16, 4, &addr) || cmd == nullptr ||
        (cmd->classes & cls) == 0)
        return After::Nothing;
    for (const auto& f : faults_)
        if (f.fault.kind == FaultKind::Refuse && f.fault.code == reply->code) return After::Nothing;
    // A modem that says it took a write but did not: the settings are put back afterwards.
    ActiveFault* keep_old = nullptr;
    if (cls == kS) {
        for (auto& f : faults_) {
            if (f.fault.kind != FaultKind::KeepOld ||
                (!f.fault.code.empty() && f.fault.code != reply->code) ||
                (f.fault.count > 0 && f.seen >= static_cast<std::uint64_t>(f.fault.count)))
                continue;
            keep_old = &f;
            break;
        }
    }
    const std::optional<ModemSettings> before =
        keep_old != nullptr ? std::optional<ModemSettings>(settings_) : std::nullopt;

    // Commands 0..8 carry '1' before their data, and ';' between the two.
    std::string rest = line.substr(8);
    std::string data;
    if (cmd->number <= 8) {
        if (!rest.empty()) {
            if (rest[0] != '1') return After::Nothing;
            if (rest.size() > 1) {
                if (rest[1] != ';') return After::Nothing;
                data = rest.substr(2);
            }
        }
    } else {
        data = std::move(rest);
    }

    const bool get = cls == kG;
    const bool set = cls == kS;
    const std::string& code = reply->code;
    std::string& payload = reply->payload;
    ModemSettings& s = settings_;
    bool ok = false;
    After after = After::Nothing;

    const NumericSetting* numeric = nullptr;
    for (const auto& n : kNumeric)
        if (code == n.code) numeric = &n;

    if (numeric != nullptr) {
        int v = 0;
        if (get) {
            payload = format("%d", s.*numeric->field);
            ok = true;
        } else if (set && parse_number(data, 10, 3, &v) && v >= numeric->min && v <= numeric->max) {
            s.*numeric->field = v;
            ok = true;
        }
    } else if (code == "ZP") {
        int v = 0;
        if (get) {
            payload = format("%04X", s.panid & 0xFFFF);
            ok = true;
        } else if (parse_number(data, 16, 4, &v)) {
            s.panid = v;
            ok = true;
        }
    } else if (code == "ZN") {
        int v = 0;
        if (get && (data == "0" || data == "1")) {
            payload = format("%d", data == "0" ? s.lnodeid : s.rnodeid);
            ok = true;
        } else if (set && data.size() >= 2 && (data[0] == '0' || data[0] == '1') &&
                   parse_number(data.substr(1), 10, 2, &v)) {
            (data[0] == '0' ? s.lnodeid : s.rnodeid) = v;
            ok = true;
        }
    } else if (code == "BN") {
        if (get) {
            payload = s.devname;
            ok = true;
        } else if (data.size() <= 20 && std::all_of(data.begin(), data.end(),
                                                    [](char c) { return c >= 0x20 && c < 0x7F; })) {
            s.devname = data;
            ok = true;
        }
    } else if (code == "ZS") {
        if (get) {
            payload = s.security ? "1" + s.aeskey : "0";
            ok = true;
        } else if (data == "0") {
            s.security = false;
            s.aeskey.clear();
            ok = true;
        } else if (data.size() == 33 && data[0] == '1' && is_hex_text(data.substr(1))) {
            s.security = true;
            s.aeskey = data.substr(1);
            ok = true;
        }
    } else if (code == "ZF") {
        int v = 0;
        if (get) {
            payload = format("%02x", s.startbyte & 0xFF);
            ok = true;
        } else if (parse_number(data, 16, 2, &v)) {
            s.startbyte = v;
            ok = true;
        }
    } else if (code == "ZA") {
        payload = format("%04X", s.parent_addr & 0xFFFF);
        ok = true;
    } else if (code == "ZU") {
        // Only this node's own short address is known here: node 0 or our own node ID.
        int node = 0;
        if (data.empty() ||
            (parse_number(data, 10, 3, &node) && (node == 0 || node == s.lnodeid))) {
            payload = format("%04X", s.short_addr & 0xFFFF);
            ok = true;
        }
    } else if (code == "@V") {
        payload = s.fw_version;
        ok = true;
    } else if (code == "DS") {
        payload = fw_type_text();
        ok = true;
    } else if (code == "XT") {
        payload = "OK";
        ok = true;
    } else if (code == "XF") {
        if (data == "0" || data.empty()) {
            upgrade_armed_ = true;
            ok = true;
        }
    } else if (code == "SR") {
        if (data == "1" || (data == "0" && !upgrade_armed_)) {
            after = After::Restart;
            ok = true;
        } else if (data == "0") {
            after = After::EnterLoader;
            ok = true;
        }
    } else {
        // The rest of the command set has no state here: reads give zero, actions and
        // writes are taken as done.
        if (get || cls == kV) payload = "0";
        ok = true;
    }
    reply->status = ok ? '0' : '1';
    if (keep_old != nullptr && ok) {
        settings_ = *before;
        ++keep_old->seen;
    }
    return after;
}

// ---- Loader -----------------------------------------------------------------------------

void Modem::handle_block(const std::uint8_t* block, Nanos at) {
    transferring_ = true;
    last_block_ = at;
    const std::uint8_t number = block[1];
    const unsigned crc = static_cast<unsigned>(block[131]) << 8 | block[132];
    const bool crc_ok = zb::xm_crc16(block + 3, static_cast<std::int32_t>(kBlockData)) == crc;

    if (find_fault(FaultKind::NakAll) != nullptr) {
        log("block #" + std::to_string(number) + " nak (fault)");
        send_byte(kNak, at);
        return;
    }
    if (number == expected_) {
        const std::uint64_t index = accepted_ + 1;
        const std::string name = "block " + std::to_string(index);
        for (auto& f : faults_) {
            if (static_cast<std::uint64_t>(f.fault.count) != index) continue;
            if (f.fault.kind == FaultKind::MuteBlock) {
                log(name + " mute (fault)");
                return;
            }
            if (f.fault.kind == FaultKind::CanBlock) {
                log(name + " can (fault)");
                send_byte(kCan, at);
                reset_transfer(at + kBeaconPeriod);
                return;
            }
            if (f.fault.kind == FaultKind::NakBlock && !f.fired) {
                f.fired = true;
                log(name + " nak (fault)");
                send_byte(kNak, at);
                return;
            }
        }
        if (!crc_ok) {
            log(name + " nak (crc)");
            send_byte(kNak, at);
            return;
        }
        received_.insert(received_.end(), block + 3, block + 3 + kBlockData);
        ++accepted_;
        ++expected_;
        blocks_acked_ = accepted_;
        log(name + " ack");
        send_byte(kAck, at);
        return;
    }
    if (!crc_ok) {
        log("block #" + std::to_string(number) + " nak (crc)");
        send_byte(kNak, at);
        return;
    }
    if (accepted_ > 0 && number == static_cast<std::uint8_t>(expected_ - 1)) {
        // Our ACK was lost and the sender repeats the block: acknowledge, keep one copy.
        log("block " + std::to_string(accepted_) + " ack (duplicate)");
        send_byte(kAck, at);
        return;
    }
    if (number == 1) {
        log("transfer restarted");
        received_.clear();
        accepted_ = 0;
        expected_ = 1;
        handle_block(block, at);
        return;
    }
    log("block #" + std::to_string(number) + " can (sequence)");
    send_byte(kCan, at);
    reset_transfer(at + kBeaconPeriod);
}

void Modem::handle_eot(Nanos at) {
    send_byte(kAck, at);
    if (!transferring_ || accepted_ == 0) {
        log("eot (no transfer)");
        return;
    }
    log("eot");
    const ImageCheck check = check_image(received_, settings_.fw_type);
    if (!check.ok) {
        log("image rejected (" + check.reason + ")");
        reset_transfer(at + kBeaconPeriod);
        return;
    }
    image_.assign(received_.begin(), received_.begin() + static_cast<std::ptrdiff_t>(check.size));
    if (!check.version.empty()) settings_.fw_version = check.version;
    ++upgrades_;
    log("image accepted " + settings_.fw_version);
    reset_transfer(kNever);
    mode_ = ModemMode::Application;
}

void Modem::reset_transfer(Nanos beacon_at) {
    transferring_ = false;
    received_.clear();
    accepted_ = 0;
    expected_ = 1;
    next_beacon_ = beacon_at;
}

void Modem::enter_loader(Nanos beacon_at) {
    mode_ = ModemMode::Loader;
    reset_transfer(beacon_at);
}

void Modem::set_mode(ModemMode mode, Nanos now) {
    if (mode == ModemMode::Loader) {
        enter_loader(now + kBeaconPeriod);
    } else {
        mode_ = ModemMode::Application;
        reset_transfer(kNever);
    }
    upgrade_armed_ = false;
}

// ---- Output -----------------------------------------------------------------------------

bool Modem::silent() const {
    for (const auto& f : faults_) {
        if (f.fault.kind == FaultKind::Silent) return true;
        if (f.fault.kind == FaultKind::StopAfter &&
            f.seen > static_cast<std::uint64_t>(std::max(f.fault.count, 0)))
            return true;
    }
    return false;
}

const Modem::ActiveFault* Modem::find_fault(FaultKind kind) const {
    for (const auto& f : faults_)
        if (f.fault.kind == kind) return &f;
    return nullptr;
}

void Modem::send_line(const Reply& reply, Nanos at) {
    std::string body = "!";
    body += reply.cls;
    body += reply.code;
    body += reply.status;
    body += reply.addr;
    body += reply.payload.substr(0, kMaxPayload);
    if (find_fault(FaultKind::LongLine) != nullptr && body.size() + 1 < kLongLine)
        body.append(kLongLine - 1 - body.size(), ' ');
    if (find_fault(FaultKind::NoBang) != nullptr) body.erase(0, 1);
    std::string line;
    if (const ActiveFault* f = find_fault(FaultKind::Noise))
        line.append(static_cast<std::size_t>(std::max(f->fault.count, 0)), kNoiseByte);
    line += body;
    line += '\n';
    if (const ActiveFault* f = find_fault(FaultKind::Gap)) {
        const std::size_t half = line.size() / 2;
        send_raw(line.substr(0, half), at);
        send_raw(line.substr(half), tx_free_ + std::max(f->fault.ms, 0) * kMillisecond);
    } else {
        send_raw(line, at);
    }
}

void Modem::send_raw(const std::string& bytes, Nanos at) {
    if (silent()) return;
    const std::size_t n = std::min(bytes.size(), kMaxTx - std::min(kMaxTx, tx_.size()));
    // The bytes reach the client together when the last one is through, as from a UART's
    // FIFO or a USB adapter's packet: the line keeps the wire's timing, and a thousand
    // clients are not woken once per byte.
    const Nanos t = std::max(at, tx_free_) + static_cast<Nanos>(n) * byte_time_;
    for (std::size_t i = 0; i < n; ++i) tx_.push_back({t, bytes[i]});
    tx_free_ = t;
}

void Modem::send_byte(std::uint8_t byte, Nanos at) {
    send_raw(std::string(1, static_cast<char>(byte)), at);
}

void Modem::add_fault(const Fault& fault) {
    ActiveFault f;
    f.fault = fault;
    faults_.push_back(f);
}

void Modem::log(const std::string& text) {
    if (log_ != nullptr) log_->write_line(com_, text);
}

ModemSnapshot Modem::snapshot() const {
    ModemSnapshot snap;
    snap.settings = settings_;
    snap.mode = mode_;
    snap.commands = commands_;
    snap.restarts = restarts_;
    snap.blocks_acked = blocks_acked_;
    snap.upgrades = upgrades_;
    snap.image = image_;
    return snap;
}

}  // namespace zbsim
