// One virtual modem: the command interpreter, the firmware loader and the timing of its
// serial line, without any descriptor.
//
// The owner feeds it the bytes read from the line with receive(), calls run() at
// next_deadline() (or whenever bytes came in) and writes out what run() hands back.
// Every byte gets a wire time: received bytes arrive one byte time apart from the moment
// they were read, and a request is acted on only once its last byte has arrived; sent
// bytes leave one byte time apart. With a byte time of 0 everything happens at once.
// Not thread-safe: the owner serialises all calls.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "sim/clock.h"
#include "sim/modem_types.h"

namespace zbsim {

// Where the request and block log lines go (besides the modem's own request list).
class LogSink {
public:
    virtual ~LogSink() = default;
    virtual void write_line(int com, const std::string& text) = 0;
};

// Printable form of a request: printable ASCII as is, anything else (and '\\') as \xNN.
std::string printable(const std::string& bytes);

class Modem {
public:
    // Longest request list kept; older entries are dropped first.
    static constexpr std::size_t kMaxRequests = 65536;

    // Without `record`, requests() stays empty.
    Modem(int com, Nanos byte_time, LogSink* log, bool record = true);

    void receive(const std::uint8_t* data, std::size_t size, Nanos now);
    // Acts on everything due by `now` and appends the bytes due on the wire to *out.
    void run(Nanos now, std::string* out);
    // When run() has something to do next; kNever when idle.
    Nanos next_deadline() const;

    ModemSnapshot snapshot() const;
    void set_settings(const ModemSettings& settings) { settings_ = settings; }
    void set_mode(ModemMode mode, Nanos now);
    void add_fault(const Fault& fault);
    void clear_faults() { faults_.clear(); }
    std::vector<std::string> requests() const { return {requests_.begin(), requests_.end()}; }
    void clear_requests() { requests_.clear(); }

private:
    // A complete or partial unit at the front of the input.
    struct Unit {
        enum Kind { None, Partial, Request, Block, Eot } kind = None;
        std::size_t begin = 0;  // bytes before begin are line noise
        std::size_t end = 0;
        Nanos due = kNever;  // when its last byte arrived; for Partial, when it is given up
        bool block = false;  // Partial: an XMODEM block was under way
    };
    struct ActiveFault {
        Fault fault;
        std::uint64_t seen = 0;  // StopAfter: commands since it was added; KeepOld: writes kept
        bool fired = false;      // NakBlock: only once
    };
    struct TxByte {
        Nanos due;
        char byte;
    };
    struct Reply {
        char cls = 'G';
        std::string code;
        char status = '1';
        std::string addr;
        std::string payload;
    };
    enum class After { Nothing, Restart, EnterLoader };

    Unit scan() const;
    Unit scan_loader() const;
    Unit scan_line(std::size_t start) const;
    // A request line with a known class, a known code and an address.
    bool well_formed(const Unit& line) const;
    Nanos beacon_due(const Unit& front) const;
    // What the loader sends while it waits for a transfer, and how often.
    char beacon_byte() const;
    Nanos beacon_period() const;
    void consume(std::size_t count);

    void handle_request(const std::string& line, Nanos at);
    After execute(const std::string& line, Reply* reply);
    void loader_answer(const std::string& line, Nanos at);
    void handle_block(const std::uint8_t* block, Nanos at);
    void handle_eot(Nanos at);
    void reset_transfer(Nanos beacon_at);
    void enter_loader(Nanos beacon_at);

    bool silent() const;
    const ActiveFault* find_fault(FaultKind kind) const;
    // The "DS" payload: "%08x%04x" with the firmware type second.
    std::string fw_type_text() const;
    void send_line(const Reply& reply, Nanos at);
    void send_raw(const std::string& bytes, Nanos at);
    void send_byte(std::uint8_t byte, Nanos at);
    void log(const std::string& text);

    const int com_;
    const Nanos byte_time_;
    LogSink* const log_;
    const bool record_;

    ModemSettings settings_;
    ModemMode mode_ = ModemMode::Application;
    std::uint64_t commands_ = 0;
    std::uint64_t restarts_ = 0;
    std::uint64_t upgrades_ = 0;
    bool upgrade_armed_ = false;
    std::vector<ActiveFault> faults_;
    std::deque<std::string> requests_;

    // Received bytes not acted on yet, each with its arrival time on the wire.
    std::string rx_;
    std::vector<Nanos> rx_time_;
    Nanos rx_free_ = 0;  // when the receive line is free for the next byte

    std::deque<TxByte> tx_;
    Nanos tx_free_ = 0;  // when the last queued byte is through
    Nanos last_write_ = kNever;

    // Loader.
    Nanos next_beacon_ = kNever;
    bool transferring_ = false;
    Nanos last_block_ = 0;
    std::uint8_t expected_ = 1;       // block number on the wire
    std::uint64_t accepted_ = 0;      // blocks stored in this transfer
    std::uint64_t blocks_acked_ = 0;  // of the current or last transfer
    std::vector<std::uint8_t> received_;
    std::vector<std::uint8_t> image_;
};

}  // namespace zbsim
