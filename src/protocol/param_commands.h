// Parameter commands: one function per setting and direction, plus the device actions.
//
// Each checks its arguments (ST_BAD_ARG, nothing sent), runs one transaction and judges
// the reply: a status character other than '0', or an empty numeric value, gives
// ST_BAD_REPLY. Out-arguments are written only on success. No state is kept, so different
// links run in parallel; one link is used by one thread at a time.
#pragma once

#include <cstddef>
#include <cstdint>

#include "protocol/serial_link.h"

namespace zb {

inline constexpr std::size_t DEVNAME_MAX = 20;
inline constexpr std::size_t FW_VERSION_MAX = 25;
inline constexpr std::size_t AES_KEY_LEN = 32;
// A text payload is at most 39 characters; with its terminator it fits this buffer.
inline constexpr std::size_t PAYLOAD_BUF_SIZE = 40;

// Numeric reads.
std::int32_t dev_get_baud(ComHandle link, std::int32_t addr, std::int32_t* baud);
std::int32_t dev_get_databit(ComHandle link, std::int32_t addr, std::int32_t* databits);
std::int32_t dev_get_stopbit(ComHandle link, std::int32_t addr, std::int32_t* stopbit);
std::int32_t dev_get_parity(ComHandle link, std::int32_t addr, std::int32_t* parity);
std::int32_t dev_get_interface(ComHandle link, std::int32_t addr, std::int32_t* iface);
std::int32_t dev_get_channel(ComHandle link, std::int32_t addr, std::int32_t* channel);
std::int32_t dev_get_outpower(ComHandle link, std::int32_t addr, std::int32_t* outpower);
std::int32_t dev_get_topology(ComHandle link, std::int32_t addr, std::int32_t* topology);
std::int32_t dev_get_txmode(ComHandle link, std::int32_t addr, std::int32_t* txmode);
std::int32_t dev_get_panid(ComHandle link, std::int32_t addr, std::int32_t* panid);
std::int32_t dev_get_devtype(ComHandle link, std::int32_t addr, std::int32_t* devtype);
std::int32_t dev_get_parent_addr(ComHandle link, std::int32_t addr, std::int32_t* parent);
// The short address of node `nodeid` (not range-checked).
std::int32_t dev_get_node_addr(ComHandle link, std::int32_t addr, std::int32_t nodeid,
                               std::int32_t* node_addr);
// selector 0: local node ID; anything else: destination node ID.
std::int32_t dev_get_nodeid(ComHandle link, std::int32_t addr, std::uint8_t selector,
                            std::int32_t* nodeid);
std::int32_t dev_get_startbyte(ComHandle link, std::int32_t addr, std::uint8_t* startbyte);
// Sends the data byte '0'; the result is the second number of the "%08x%04x" payload.
std::int32_t dev_get_fw_type(ComHandle link, std::int32_t addr, std::int32_t* fw_type);

// Text reads: the payload, cut to fit out[0..cap) and terminated. A reply shorter than
// its header gives an empty text. cap must be at least 1.
std::int32_t dev_get_devname(ComHandle link, std::int32_t addr, char* out, std::size_t cap);
// The flag character, then (when on) the key characters.
std::int32_t dev_get_security(ComHandle link, std::int32_t addr, char* out, std::size_t cap);
std::int32_t dev_get_fw_version(ComHandle link, std::int32_t addr, char* out, std::size_t cap);

// The values each numeric setter accepts, in the modem's own terms; anything outside is
// refused with ST_BAD_ARG and nothing is sent.
struct SetRange {
    std::int32_t min;
    std::int32_t max;
};
inline constexpr SetRange BAUD_RANGE{0, 17};
inline constexpr SetRange DATABIT_RANGE{8, 9};
inline constexpr SetRange STOPBIT_RANGE{0, 1};
inline constexpr SetRange PARITY_RANGE{0, 2};
inline constexpr SetRange INTERFACE_RANGE{0, 3};
inline constexpr SetRange CHANNEL_RANGE{11, 26};
inline constexpr SetRange OUTPOWER_RANGE{0, 7};
inline constexpr SetRange TOPOLOGY_RANGE{0, 2};
inline constexpr SetRange TXMODE_RANGE{0, 1};
inline constexpr SetRange PANID_RANGE{0, 0xFFFF};
inline constexpr SetRange DEVTYPE_RANGE{0, 2};
inline constexpr SetRange NODEID_RANGE{0, 99};
inline constexpr SetRange STARTBYTE_RANGE{0, 0xFF};

// Writes.
std::int32_t dev_set_baud(ComHandle link, std::int32_t addr, std::int32_t baud);
std::int32_t dev_set_databit(ComHandle link, std::int32_t addr, std::int32_t databits);
std::int32_t dev_set_stopbit(ComHandle link, std::int32_t addr, std::int32_t stopbit);
std::int32_t dev_set_parity(ComHandle link, std::int32_t addr, std::int32_t parity);
std::int32_t dev_set_interface(ComHandle link, std::int32_t addr, std::int32_t iface);
std::int32_t dev_set_channel(ComHandle link, std::int32_t addr, std::int32_t channel);
std::int32_t dev_set_outpower(ComHandle link, std::int32_t addr, std::int32_t outpower);
std::int32_t dev_set_topology(ComHandle link, std::int32_t addr, std::int32_t topology);
std::int32_t dev_set_txmode(ComHandle link, std::int32_t addr, std::int32_t txmode);
std::int32_t dev_set_panid(ComHandle link, std::int32_t addr, std::int32_t panid);
std::int32_t dev_set_devtype(ComHandle link, std::int32_t addr, std::int32_t devtype);
// Selector (not range-checked) and node ID, sent back to back.
std::int32_t dev_set_nodeid(ComHandle link, std::int32_t addr, std::uint8_t selector,
                            std::int32_t nodeid);
// At most 20 characters; empty allowed.
std::int32_t dev_set_devname(ComHandle link, std::int32_t addr, const char* name);
// flag '1' sends '1' and the first 32 key characters (a shorter key is refused); any other
// flag is sent alone and the key is ignored (it may be null then).
std::int32_t dev_set_security(ComHandle link, std::int32_t addr, char flag, const char* key);
std::int32_t dev_set_startbyte(ComHandle link, std::int32_t addr, std::uint8_t startbyte);

// Device actions. Each returns ST_LOADER when the loader answers with "DS".
// Success when the status is '0', or the payload reads "O" first or "K" second.
std::int32_t dev_check_connection(ComHandle link, std::int32_t addr, std::int32_t flag);
std::int32_t dev_request_upgrade(ComHandle link, std::int32_t addr);
// mode 0 enters the loader, mode 1 restarts the application. Waits 100 ms before reading.
std::int32_t dev_system_reset(ComHandle link, std::int32_t addr, std::int32_t mode);

}  // namespace zb
