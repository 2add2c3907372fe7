// Configuration files: the settings of one modem as a small INI text, sections "Serial"
// and "ZigBee". Export writes one file per selected port ("KRB7310_Config<COM>.txt");
// import reads one file, checks every key and gives its settings to every selected port.
//
// Reading: section and key names match without regard to case; a value is the text after
// the first '=' with surrounding blanks removed; lines may end in LF or CRLF; other sections
// and keys are ignored. Writing: the system's line ends (TextLineEnd: CRLF on Windows); an
// existing file is updated key by key and keeps its other lines; every file goes to a
// temporary name in the same folder first and is renamed into place, so a crash or a full
// disk never leaves a half-written file.
//
// Plain functions, no shared state. The table functions change or read records of the
// selected rows and are for the controlling thread while no job runs.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "jobs/model/port_table.h"
#include "jobs/model/record_fields.h"
#include "jobs/model/result.h"

namespace zb {

// An INI text kept line by line, so that an update keeps what it does not touch.
class IniText {
public:
    IniText() = default;
    // LF and CRLF alike.
    static IniText Parse(std::string_view text);

    // The value of `key` in `section` (first match, names without regard to case), or
    // std::nullopt when the section or key is missing.
    std::optional<std::string> Get(std::string_view section, std::string_view key) const;
    // Replaces the value of an existing key, or adds the key at the end of its section, or
    // the section (with the key) at the end of the text.
    void Set(std::string_view section, std::string_view key, std::string_view value);
    // The lines, each ending with `line_end`.
    std::string Text(std::string_view line_end = "\n") const;

private:
    std::vector<std::string> lines_;
};

// "KRB7310_Config<com>.txt".
std::string ConfigFileName(std::uint32_t com);

// The writer's keys of `record`, in their order, into `ini`.
void PutSettings(IniText& ini, const DeviceRecord& record);

// Writes (or updates) `path` from `record`, atomically; with the record's AES key in it, the
// file is its owner's alone (FileReaders::OwnerOnly). A failure carries the system's reason,
// and leaves no temporary file and any existing file unchanged.
Status WriteConfigFile(const std::string& path, const DeviceRecord& record);

struct ConfigWriteFailure {
    std::uint32_t com = 0;
    std::string path;
    std::string reason;  // the system's words, e.g. "Permission denied"
};
// One file per row (0..1023) whose record is selected, into `folder`. The failures, in row
// order; empty when every file was written.
std::vector<ConfigWriteFailure> WriteConfigFiles(const PortTable& rows, const std::string& folder);

// The settings a file carries, once every check has passed, in a record: the fields a file
// is read for (FieldsInFile); the rest as a value-initialised record has them.
using ConfigSettings = DeviceRecord;

// Why a file was refused: the first check (1..16, in reading order) that failed.
struct ConfigRefusal {
    int step = 0;
    std::string section;  // "Serial" or "ZigBee"
    std::string key;      // e.g. "PAN ID"
    // As read, an AES key as "(not shown)"; std::nullopt when the key is missing.
    std::optional<std::string> value;
    std::string reason;  // what the check wants, e.g. "0x and hexadecimal digits, 0..0xFFFD"
    // The file could not be read: `reason` says only why ("cannot read <path>: <system's
    // reason>"), as no key of it was checked.
    bool unreadable = false;
};

// Checks the keys of `text` in reading order (steps 1 to 16), or says which one failed.
Result<ConfigSettings, ConfigRefusal> ParseConfigSettings(std::string_view text);
// The same on a file. A file that cannot be read is a file with no keys: it fails at the
// first check, and the refusal is marked unreadable.
Result<ConfigSettings, ConfigRefusal> LoadConfigFile(const std::string& path);

// A selected record that an import leaves as it was, and why: the dialog's rule that its
// record, given the file's settings, would break (RecordRefusal), e.g. a router file on a
// coordinator, whose local node ID 0 it keeps.
struct ConfigImportRefusal {
    std::uint32_t com = 0;
    std::string message;  // one line
};

// Gives `settings` to every selected record, rows 0..1023, then the record's own `values`
// (by COM number, in order; none for a COM number not in it), and sets apply_pending. Each
// record keeps its own local node ID, which the file's checks cannot see, unless its values
// set one; so a record the dialog's rules would then refuse is left unchanged, and still
// selected, and is named in the result, in row order.
std::vector<ConfigImportRefusal> ApplyConfigSettings(
    PortTable& rows, const ConfigSettings& settings,
    const std::map<std::int32_t, std::vector<FieldValue>>& values = {});

// LoadConfigFile, then ApplyConfigSettings on success: a refused file changes nothing. On
// success, the records left unchanged.
Result<std::vector<ConfigImportRefusal>, ConfigRefusal> ReadConfigFile(const std::string& path,
                                                                       PortTable& rows);

}  // namespace zb
