// What a virtual modem is made of and what can be asked of it, shared by the modem
// (modem.h) and the simulator that serves it (simulator.h): its faults, its settings, its
// mode and a snapshot of its state. Plain values; any thread.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace zbsim {

enum class FaultKind {
    Silent,        // never answers
    StopAfter,     // answers `count` commands, then falls silent
    Refuse,        // answers command `code` (two letters) with status '1'
    Noise,         // sends `count` noise bytes (0x78) before the '!'
    LongLine,      // pads each reply line to 50 characters or more
    NoBang,        // sends reply lines without '!'
    Gap,           // pauses `ms` milliseconds in the middle of each reply
    LoaderAnswer,  // answers every command as the loader does ('C' when `count` is 0, else "DS")
    NakBlock,      // answers block `count` with NAK once
    CanBlock,      // answers block `count` with CAN
    MuteBlock,     // does not answer block `count`
    NakAll,        // answers every block with NAK, for ever
    SyncJunk,      // the loader sends junk every `ms` milliseconds instead of its 'C' beacons
    KeepOld,       // answers writes (of `code` only, when set) with success but keeps the old
                   // value; with `count`, only the first `count` such writes
};

struct Fault {
    FaultKind kind = FaultKind::Silent;
    int count = 0;     // commands, bytes or the block number, as the kind says
    int ms = 0;        // Gap, SyncJunk
    std::string code;  // Refuse, KeepOld

    // The faults by what their numbers mean, for code that builds them.
    static Fault Of(FaultKind kind) {
        Fault f;
        f.kind = kind;
        return f;
    }
    static Fault Counted(FaultKind kind, int count) {
        Fault f = Of(kind);
        f.count = count;
        return f;
    }
    static Fault Paused(FaultKind kind, int ms) {
        Fault f = Of(kind);
        f.ms = ms;
        return f;
    }
    static Fault Refusing(std::string code) {
        Fault f = Of(FaultKind::Refuse);
        f.code = std::move(code);
        return f;
    }
    // Keeps the old value on writes of `code` (every command when empty), on the first
    // `count` such writes only when count > 0.
    static Fault KeepingOld(std::string code, int count = 0) {
        Fault f = Counted(FaultKind::KeepOld, count);
        f.code = std::move(code);
        return f;
    }
};

// A modem's settings, in the modem's own encodings (channel 11..26, data bits 8..9).
struct ModemSettings {
    int baud = 16;
    int databits = 8;
    int stopbit = 0;
    int parity = 0;
    int iface = 0;
    int channel = 11;
    int outpower = 6;
    int topology = 0;
    int txmode = 0;
    int panid = 0x1A2B;
    int devtype = 0;
    int lnodeid = 0;
    int rnodeid = 0;
    int startbyte = 0x7E;
    bool security = false;
    std::string aeskey;   // 32 hex characters when security is on
    std::string devname;  // "SIM-<com>" by default
    int parent_addr = 0;
    int short_addr = 0;
    int fw_type = 0x0101;
    std::string fw_version = "SIM 1.0.0";
};

enum class ModemMode { Application, Loader };

struct ModemSnapshot {
    ModemSettings settings;
    ModemMode mode = ModemMode::Application;
    std::uint64_t commands = 0;       // requests answered or ignored so far
    std::uint64_t restarts = 0;       // "SR" mode 1
    std::uint64_t blocks_acked = 0;   // blocks of the current or last transfer
    std::uint64_t upgrades = 0;       // images accepted
    std::vector<std::uint8_t> image;  // the last image received in full
};

}  // namespace zbsim
