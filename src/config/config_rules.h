// The configuration dialog's rules without its widgets: what the node boxes show for a
// device type and mode, the key filters, the checks run when OK is pressed, and the save
// of the edited values into the selected records.
//
// The checks look only at the texts and positions the boxes hold, so the dialog, zbctl and
// the tests call the same functions. Pure functions, except SaveSettings, which changes the
// records of the selected rows (GUI thread, or zbctl's main, while no job runs).
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include <vector>

#include "jobs/model/port_table.h"
#include "jobs/model/record_fields.h"

namespace zb {

// --- Reading numbers as the checks read them ---------------------------------------------

// Leading blanks, an optional sign, then the leading decimal digits; anything after them is
// ignored. std::nullopt when no digit follows (or the value leaves 32 bits).
std::optional<std::int64_t> LeadingDecimal(std::string_view text);
// The same with hexadecimal digits.
std::optional<std::int64_t> LeadingHex(std::string_view text);
// Every character is 0-9, A-F or a-f (true for an empty text).
bool AllHexDigits(std::string_view text);

// --- Key filters -------------------------------------------------------------------------

inline constexpr char32_t kBackspace = 8;
// ec_startbyte: Backspace and hexadecimal digits.
bool HexKeyAllowed(char32_t c);
// ec_lnodeid, ec_rnodeid: Backspace and decimal digits.
bool DecimalKeyAllowed(char32_t c);

// --- What the boxes show -----------------------------------------------------------------

inline constexpr std::string_view kNotApplicable = "N/A";

// The mode list and the three node boxes, as the device-type and mode rules set them.
struct NodeBoxes {
    bool mode_list_full = false;  // "Transparent", "Addressable"; otherwise the single "N/A"
    int mode_choice = 0;          // position chosen in the mode list
    bool mode_enabled = false;
    std::string lnodeid;
    std::string rnodeid;
    std::string startbyte;
    bool lnodeid_enabled = false;
    bool rnodeid_enabled = false;
    bool startbyte_enabled = false;
};

// The device-type rule: what the boxes show when `devtype` (list position; -1 for no choice,
// which is not a coordinator) is chosen for `record`. The values always come from the record, never
// from what was typed before.
NodeBoxes DevtypeBoxes(const DeviceRecord& record, int devtype);
// The mode rule (a coordinator's mode list): what the node boxes show for mode position
// `txmode` (0 Transparent, otherwise Addressable).
NodeBoxes ModeBoxes(const DeviceRecord& record, int txmode);

// --- The checks on OK --------------------------------------------------------------------

// What the boxes hold when OK is pressed.
struct SettingsBoxes {
    int devtype = 0;  // cb_devtype position; 0 is Coordinator, -1 no choice
    int txmode = 0;   // cb_txmode position; for a router the single "N/A" is 0
    std::string lnodeid;
    std::string rnodeid;
    std::string panid;
    std::string startbyte;
    bool security = false;
    std::string aeskey;
    std::string devname;  // UTF-8, as typed or pasted
};

// The boxes as the dialog shows them right after loading `record`.
SettingsBoxes BoxesOf(const DeviceRecord& record);

struct CheckFailure {
    int step = 0;  // 1..14, in the order the checks run
    std::string message;
};

// The checks in their fixed order (steps 1 to 14); the first that fails, or std::nullopt
// when every one passes. The confirmation asked before them when several devices are
// selected belongs to the dialog.
std::optional<CheckFailure> CheckSettings(const SettingsBoxes& boxes);

// The checks on `record` as the dialog would load it, for a record that reaches its modem
// without the dialog (zbctl's apply, an import): the first failure's message on one line,
// a two-line message joined with a space as a table row shows it, or std::nullopt.
std::optional<std::string> RecordRefusal(const DeviceRecord& record);

// --- Saving ------------------------------------------------------------------------------

// The edited values, field by field. A field left out keeps each record's own value: a
// drop-down list that offered no choice for the record's value, the node IDs of a
// coordinator, the start byte in Transparent mode, and the key while security is off.
using SettingsValues = std::vector<FieldValue>;

// The values that boxes which passed CheckSettings stand for, with the lists' positions
// (-1: no choice) given apart. Node IDs are taken only for a router or end device, the start
// byte only when the mode position is not 0, the key only with security on.
struct ListPositions {
    int baud = -1, parity = -1, databit = -1, stopbit = -1, interface = -1, devtype = -1,
        channel = -1, outpower = -1, topology = -1, txmode = -1;
};
SettingsValues ValuesOf(std::string_view devname, const ListPositions& lists,
                        const SettingsBoxes& boxes);

// Stores `values` in every row's record that is selected, rows 0 to 1023, and sets its
// apply_pending. Returns how many records were changed.
std::uint32_t SaveSettings(PortTable& rows, const SettingsValues& values);

}  // namespace zb
