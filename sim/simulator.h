// Virtual modems on pseudo-terminals.
//
// One Simulator serves N modems, COM first_com .. first_com+N-1, each on its own
// pseudo-terminal whose slave path a client opens exactly as it opens a real adapter. A
// single service thread runs every modem; the public methods may be called from any
// thread while it runs.
#pragma once

#include <cstdint>
#include <memory>
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

// Parses "KIND[:ARGS]" as zbsim's --fault takes it, for example "refuse:COM3:ZP". On
// success stores the fault and the COM number it names (0 for every modem).
bool parse_fault(const std::string& text, int* com, Fault* fault, std::string* error);
// What --help prints about the fault kinds.
std::string fault_help();

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

struct SimOptions {
    int count = 1;
    int first_com = 1;
    std::string ports_dir;  // empty: no links written
    bool pacing = true;     // bytes at 115200 baud 8N1, requests handled after their wire time
    std::string log_path;   // empty: no log
    // Keep each modem's latest requests for requests(). Off, nothing reads them and they
    // cost no memory (about 2 MB a modem once the list is full).
    bool record_requests = true;
    // The modems start unplugged: no terminal, no link, until plug().
    bool unplugged = false;
};

class Simulator {
public:
    explicit Simulator(SimOptions options);
    ~Simulator();  // stops the service thread, closes the terminals, removes the links
    Simulator(const Simulator&) = delete;
    Simulator& operator=(const Simulator&) = delete;

    // Opens the terminals, writes the links and starts the service thread.
    bool start(std::string* error);
    void stop();

    int first_com() const;
    int count() const;
    // The slave device path of COM `com`, or "" when it is not one of ours.
    std::string device_path(int com) const;

    // Faults and settings may be changed while running; they apply to the next request.
    void add_fault(int com, const Fault& fault);  // com 0: every modem
    void clear_faults(int com);
    void set_settings(int com, const ModemSettings& settings);
    void set_mode(int com, ModemMode mode);

    // An adapter plugged in and out while running. unplug() closes the modem's terminal, so
    // that a client holding it open reads and writes nothing more, and removes its links;
    // the modem keeps its settings. plug() opens a new terminal and links it as an adapter
    // is linked: comN leads to by-id/zbsim-COMn in ports_dir, which leads to the terminal,
    // so that the entry's target names the modem whichever terminal it got. Both do nothing
    // for a modem already so, or while stopped; plug() fails only when the terminal or the
    // links cannot be made, and the modem then stays unplugged.
    bool plug(int com, std::string* error);
    void unplug(int com);

    ModemSnapshot snapshot(int com) const;
    // The latest requests the modem received (up to 65536), in printable form ("?GSB00001",
    // control bytes as \xNN), oldest first. Always empty without record_requests.
    std::vector<std::string> requests(int com) const;
    void clear_requests(int com);

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace zbsim
