// The read-settings and apply-settings steps.
#include <cstring>
#include <string>

#include "jobs/engine/pause.h"
#include "jobs/engine/steps.h"
#include "jobs/model/record_fields.h"
#include "protocol/param_commands.h"

namespace zb {
namespace {

// Everything the twenty reads deliver, kept apart so that a failed read changes nothing.
struct ReadValues {
    std::int32_t baud = 0, databits = 0, stopbit = 0, parity = 0, iface = 0, fw_type = 0;
    std::int32_t channel = 0, devtype = 0, panid = 0, outpower = 0, topology = 0;
    std::int32_t txmode = 0, parent_addr = 0, short_addr = 0, lnodeid = 0, rnodeid = 0;
    std::uint8_t startbyte = 0;
    char devname[PAYLOAD_BUF_SIZE]{};
    char security[PAYLOAD_BUF_SIZE]{};
    char fw_version[PAYLOAD_BUF_SIZE]{};
};

// Text out of a payload buffer, never past its end even if a terminator were missing.
std::string_view Payload(const char (&buf)[PAYLOAD_BUF_SIZE]) {
    return {buf, strnlen(buf, PAYLOAD_BUF_SIZE)};
}

void StoreReadValues(const ReadValues& v, DeviceRecord& record) {
    // Stored as they come: a value the record's encoding cannot hold wraps rather than fails.
    const auto store = [&record](FieldId id, std::int64_t wire) {
        StoreWireValue(record, FieldOf(id), wire);
    };
    store(FieldId::Baud, v.baud);
    store(FieldId::Databit, v.databits);
    store(FieldId::Stopbit, v.stopbit);
    store(FieldId::Parity, v.parity);
    store(FieldId::Interface, v.iface);
    store(FieldId::FwType, v.fw_type);
    SetText(record.devname, Payload(v.devname));
    store(FieldId::Channel, v.channel);
    store(FieldId::Devtype, v.devtype);
    store(FieldId::Panid, v.panid);
    store(FieldId::Outpower, v.outpower);
    store(FieldId::Topology, v.topology);
    store(FieldId::Txmode, v.txmode);
    store(FieldId::ParentAddr, v.parent_addr);
    store(FieldId::ShortAddr, v.short_addr);
    store(FieldId::Lnodeid, v.lnodeid);
    store(FieldId::Rnodeid, v.rnodeid);
    store(FieldId::Startbyte, v.startbyte);
    // The first character is the flag; with security off the device sends no key and the
    // stored one is kept. Only an explicit "0" means off: reading an empty answer as off
    // would let the next apply switch the device's encryption off unasked.
    const std::string_view security = Payload(v.security);
    if (!security.empty() && security[0] == '0') {
        record.security = false;
    } else {
        record.security = true;
        SetText(record.aeskey, security.empty() ? security : security.substr(1, AES_KEY_LEN));
    }
    SetText(record.fw_version, Payload(v.fw_version));
}

}  // namespace

void ReadSettingsStep(JobContext& job, DeviceRecord& record) {
    const ComHandle link = record.link;
    ReadValues v;
    job.BarSetMax(record, 20);
    job.SetPortMessage(record, "Get device's settings");
    JobPause();

    const auto reads = {
        +[](ComHandle l, ReadValues& r) { return dev_get_baud(l, 0, &r.baud); },
        +[](ComHandle l, ReadValues& r) { return dev_get_databit(l, 0, &r.databits); },
        +[](ComHandle l, ReadValues& r) { return dev_get_stopbit(l, 0, &r.stopbit); },
        +[](ComHandle l, ReadValues& r) { return dev_get_parity(l, 0, &r.parity); },
        +[](ComHandle l, ReadValues& r) { return dev_get_interface(l, 0, &r.iface); },
        +[](ComHandle l, ReadValues& r) { return dev_get_fw_type(l, 0, &r.fw_type); },
        +[](ComHandle l, ReadValues& r) {
            return dev_get_devname(l, 0, r.devname, sizeof r.devname);
        },
        +[](ComHandle l, ReadValues& r) { return dev_get_channel(l, 0, &r.channel); },
        +[](ComHandle l, ReadValues& r) { return dev_get_devtype(l, 0, &r.devtype); },
        +[](ComHandle l, ReadValues& r) { return dev_get_panid(l, 0, &r.panid); },
        +[](ComHandle l, ReadValues& r) { return dev_get_outpower(l, 0, &r.outpower); },
        +[](ComHandle l, ReadValues& r) { return dev_get_topology(l, 0, &r.topology); },
        +[](ComHandle l, ReadValues& r) { return dev_get_txmode(l, 0, &r.txmode); },
        +[](ComHandle l, ReadValues& r) { return dev_get_parent_addr(l, 0, &r.parent_addr); },
        +[](ComHandle l, ReadValues& r) { return dev_get_node_addr(l, 0, 0, &r.short_addr); },
        +[](ComHandle l, ReadValues& r) { return dev_get_nodeid(l, 0, 0, &r.lnodeid); },
        +[](ComHandle l, ReadValues& r) { return dev_get_nodeid(l, 0, 1, &r.rnodeid); },
        +[](ComHandle l, ReadValues& r) { return dev_get_startbyte(l, 0, &r.startbyte); },
        +[](ComHandle l, ReadValues& r) {
            return dev_get_security(l, 0, r.security, sizeof r.security);
        },
        +[](ComHandle l, ReadValues& r) {
            return dev_get_fw_version(l, 0, r.fw_version, sizeof r.fw_version);
        },
    };

    for (const auto read : reads) {
        // Nothing is stored before the last read, so a stop may end the step between two.
        if (job.StopRequested()) {
            job.ReportFailure(record, "User abort", FailCounters::Fail);
            return;
        }
        if (read(link, v) != ST_OK) {
            job.FailPort(record, "Get settings fail", FailCounters::Fail);
            return;
        }
        job.BarStep(record);
    }
    StoreReadValues(v, record);
    JobPause();
}

void ApplySettingsStep(JobContext& job, DeviceRecord& record) {
    const ComHandle link = record.link;
    job.BarSetMax(record, 16);
    job.SetPortMessage(record, "Apply device's settings");
    JobPause();
    // A value a setter would refuse, found only at its own write, would leave the writes
    // before it in the modem without the restart.
    if (!UnwritableField(record).empty()) {
        job.FailPort(record, "Apply settings fail.", FailCounters::ApplyFail);
        return;
    }

    // Taken as bounded strings: a text field written by hand may lack its terminator.
    const std::string devname(TextOf(record.devname));
    const std::string aeskey(TextOf(record.aeskey));
    // Within the setters' ranges once UnwritableField has passed.
    const auto wire = [&record](FieldId id) {
        return static_cast<std::int32_t>(WireValueOf(record, FieldOf(id)));
    };
    // The sixteen writes in the device's order; every value is sent whatever the device
    // type and mode.
    auto write = [&](int index) -> std::int32_t {
        switch (index) {
            case 0:
                return dev_set_baud(link, 0, wire(FieldId::Baud));
            case 1:
                return dev_set_databit(link, 0, wire(FieldId::Databit));
            case 2:
                return dev_set_stopbit(link, 0, wire(FieldId::Stopbit));
            case 3:
                return dev_set_parity(link, 0, wire(FieldId::Parity));
            case 4:
                return dev_set_interface(link, 0, wire(FieldId::Interface));
            case 5:
                return dev_set_devname(link, 0, devname.c_str());
            case 6:
                return dev_set_channel(link, 0, wire(FieldId::Channel));
            case 7:
                return dev_set_devtype(link, 0, wire(FieldId::Devtype));
            case 8:
                return dev_set_nodeid(link, 0, 0, wire(FieldId::Lnodeid));
            case 9:
                return dev_set_nodeid(link, 0, 1, wire(FieldId::Rnodeid));
            case 10:
                return dev_set_panid(link, 0, wire(FieldId::Panid));
            case 11:
                return dev_set_outpower(link, 0, wire(FieldId::Outpower));
            case 12:
                return dev_set_topology(link, 0, wire(FieldId::Topology));
            case 13:
                return dev_set_txmode(link, 0, wire(FieldId::Txmode));
            case 14:
                return dev_set_startbyte(link, 0, record.startbyte);
            default:
                return record.security ? dev_set_security(link, 0, '1', aeskey.c_str())
                                       : dev_set_security(link, 0, '0', nullptr);
        }
    };

    // A stop is honoured before the first write or after the restart, never in between: a
    // modem left with some of the writes and no restart would hold a mix of old and new.
    if (!job.BeginWrites()) {
        job.ReportFailure(record, "User abort", FailCounters::ApplyFail);
        return;
    }
    bool ok = true;
    for (int i = 0; i < 16 && ok; ++i) {
        ok = write(i) == ST_OK;
        if (ok) job.BarStep(record);
    }
    if (ok) {
        JobPause();
        ok = dev_system_reset(link, 0, 1) == ST_OK;
    }
    job.EndWrites();
    if (!ok) job.FailPort(record, "Apply settings fail.", FailCounters::ApplyFail);
}

}  // namespace zb
