// Port table and device record: what the program knows about each COM port and its modem.
//
// The table has one row per COM number 1..1024 (row i is COM i+1). A row holds shared
// references: copying the table (into the job engine or a dialog and back) copies the
// references only, so every copy sees the same locks and records, and a record stays
// alive for as long as any copy, or a running worker, still refers to it. Removing a port
// drops the row's reference; the lock is created once and kept by the row for good.
//
// Thread rules: `port_lock` guards `selected`, `is_open`, `upgrade_pending`, `link` and
// the row's `device` reference against the main window's own changes. While a job runs,
// its workers own the records of the selected ports and take no lock; nobody else may
// touch those records until the job has finished (JobEngine::Wait or
// JobReporter::JobFinished). The value tables are constant.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string_view>

#include "jobs/model/progress_bar.h"
#include "protocol/serial_link.h"

namespace zb {

inline constexpr std::size_t kPortTableSize = 1024;
inline constexpr std::size_t kAesKeySize = 33;       // 32 hex digits and a terminator
inline constexpr std::size_t kFwVersionSize = 26;    // 25 characters and a terminator
inline constexpr std::size_t kDevnameSize = 21;      // 20 characters and a terminator
inline constexpr std::size_t kProcessNameSize = 16;  // a command name of Linux and its NUL
inline constexpr std::size_t kReasonSize = 256;

// One modem's settings in the program's encodings (mostly value-table indexes; channel is
// the radio channel minus 11, databit the number of data bits minus 8) and the flags that
// drive the jobs. Value-initialised it is the zero-filled record of a new port.
struct DeviceRecord {
    std::uint32_t com_no = 0;
    std::uint32_t fw_type = 0;
    bool is_open = false;
    bool selected = false;
    bool connected = false;
    bool apply_pending = false;
    bool upgrade_pending = false;
    bool upgrade_wait = false;
    bool job_failed = false;
    ComHandle link;
    std::shared_ptr<ProgressBar> progress_bar;
    std::uint32_t baud = 0;
    std::uint32_t parity = 0;
    std::int32_t databit = 0;
    std::uint32_t stopbit = 0;
    std::uint32_t interface = 0;
    std::uint32_t devtype = 0;
    std::uint32_t topology = 0;
    std::int32_t channel = 0;
    std::uint32_t outpower = 0;
    std::uint32_t txmode = 0;
    std::uint32_t panid = 0;
    std::uint32_t parent_addr = 0;
    std::uint32_t short_addr = 0;
    std::uint32_t lnodeid = 0;
    std::uint32_t rnodeid = 0;
    bool security = false;
    std::uint8_t startbyte = 0;
    std::array<char, kAesKeySize> aeskey{};
    std::array<char, kFwVersionSize> fw_version{};
    std::array<char, kDevnameSize> devname{};
    // Why the port could not be opened in the last job, in system terms; empty otherwise.
    std::array<char, kReasonSize> open_error{};
    // The same in an operator's terms ("held by minicom, pid 4242", "permission denied:
    // ..."), when there is something short to say; and the holding process, pid 0 if none.
    std::array<char, kReasonSize> open_note{};
    std::int32_t holder_pid = 0;
    std::array<char, kProcessNameSize> holder_name{};
};

struct PortRow {
    // -1: no such port on this machine; 0: exists, not listed; 1: in the device list.
    std::int16_t port_state = -1;
    std::shared_ptr<std::mutex> port_lock;
    std::shared_ptr<DeviceRecord> device;
};

using PortTable = std::array<PortRow, kPortTableSize>;

// Row index of COM n, or std::nullopt outside 1..1024.
std::optional<std::size_t> RowOfCom(std::int64_t com);

// --- Text fields -------------------------------------------------------------------------

// Stores `text` cut to N-1 characters, terminated, the rest of the field zeroed (so no
// trace of a longer earlier text remains). Every write into a text field goes through it.
template <std::size_t N>
void SetText(std::array<char, N>& field, std::string_view text) {
    static_assert(N > 0);
    const std::size_t n = text.size() < N - 1 ? text.size() : N - 1;
    field.fill('\0');
    text.copy(field.data(), n);
}

// The field's text up to its terminator, never beyond the field (a field written by
// hand without a terminator yields its first N-1 characters).
template <std::size_t N>
std::string_view TextOf(const std::array<char, N>& field) {
    static_assert(N > 0);
    std::size_t n = 0;
    while (n < N - 1 && field[n] != '\0') ++n;
    return {field.data(), n};
}

// --- Value tables ------------------------------------------------------------------------

inline constexpr std::array<std::string_view, 18> kBaudTexts{
    "50",   "75",   "110",  "134",  "150",   "300",   "600",   "1200",   "1800",
    "2400", "4800", "7200", "9600", "19200", "38400", "57600", "115200", "230400"};
inline constexpr std::array<std::string_view, 3> kParityTexts{"None", "Odd", "Even"};
inline constexpr std::array<std::string_view, 1> kDatabitTexts{"8"};
inline constexpr std::array<std::string_view, 2> kStopbitTexts{"1", "2"};
inline constexpr std::array<std::string_view, 4> kInterfaceTexts{"RS-232", "RS-422", "RS-485 2W",
                                                                 "RS-485 4W"};
inline constexpr std::array<std::string_view, 3> kDevtypeTexts{"Coordinator", "Router",
                                                               "End Device"};
inline constexpr std::array<std::string_view, 3> kTopologyTexts{"Star", "Tree", "Mesh"};
inline constexpr std::array<std::string_view, 8> kOutpowerTexts{"-20", "-16",  "-12", "-8",
                                                                "-4",  "-1.5", "1",   "4.5"};
inline constexpr std::array<std::string_view, 2> kTxmodeTexts{"Transparent", "Addressable"};
inline constexpr std::array<std::string_view, 2> kSecurityTexts{"Disable", "Enable"};

// --- Row operations of the main window ---------------------------------------------------

// Adding a port: creates the lock if the row has none, gives the row a fresh record with
// the defaults of a new port (selected, and the fields' initial values) and
// sets port_state to 1. A record the row already had is replaced; it lives on only in
// copies that still refer to it. Returns the new record.
std::shared_ptr<DeviceRecord> AddPort(PortRow& row, std::uint32_t com_no);

// Removing a port: port_state 0, then under port_lock closes the link and drops the record.
void RemovePort(PortRow& row);

// What MarkPorts does to one row: set `selected`, or clear `selected` and `is_open` and
// then close the link and forget it. Rows without a record are left alone.
void MarkPort(PortRow& row);
void UnmarkPort(PortRow& row);
// MarkUpgrade for one row.
void SetUpgradeMark(PortRow& row, bool on);

}  // namespace zb
