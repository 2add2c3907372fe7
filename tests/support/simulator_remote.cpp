// The virtual modems of the Windows test programs: the same Simulator, with every call
// carried out by the modem host outside Wine, whose pseudo-terminals Wine opens as COMn.
#include <string>

#include <gtest/gtest.h>

#include "host_channel.h"
#include "modem_host_wire.h"
#include "sim/simulator.h"

namespace zbsim {

struct Simulator::Impl {
    SimOptions options;
    zbtest::HostChannel channel;

    bool Do(const std::string& request, std::string* payload = nullptr) {
        return zbtest::HostOk(request, channel.Call(request), payload);
    }
};

Simulator::Simulator(SimOptions options) : impl_(std::make_unique<Impl>()) {
    impl_->options = std::move(options);
}

Simulator::~Simulator() = default;  // the host drops the modems with the connection

bool Simulator::start(std::string* error) {
    if (!impl_->channel.connected()) {
        *error = impl_->channel.error();
        return false;
    }
    const SimOptions& o = impl_->options;
    const std::string reply =
        impl_->channel.Call("start " + std::to_string(o.count) + ' ' + std::to_string(o.first_com) +
                            ' ' + (o.pacing ? "1" : "0") + ' ' + (o.record_requests ? "1" : "0"));
    if (reply == "ok") return true;
    *error = reply;
    return false;
}

void Simulator::stop() {
    impl_->Do("stop");
}

int Simulator::first_com() const {
    return impl_->options.first_com;
}

int Simulator::count() const {
    return impl_->options.count;
}

std::string Simulator::device_path(int com) const {
    if (com < first_com() || com >= first_com() + count()) return "";
    return "\\\\.\\COM" + std::to_string(com);
}

void Simulator::add_fault(int com, const Fault& fault) {
    impl_->Do("fault " + std::to_string(com) + ' ' + zbtest::wire::EncodeFault(fault));
}

void Simulator::clear_faults(int com) {
    impl_->Do("clear-faults " + std::to_string(com));
}

void Simulator::set_settings(int com, const ModemSettings& settings) {
    impl_->Do("settings " + std::to_string(com) + ' ' + zbtest::wire::EncodeSettings(settings));
}

void Simulator::set_mode(int com, ModemMode mode) {
    impl_->Do("mode " + std::to_string(com) + ' ' +
              (mode == ModemMode::Loader ? "loader" : "application"));
}

ModemSnapshot Simulator::snapshot(int com) const {
    ModemSnapshot s;
    std::string payload;
    if (impl_->Do("snapshot " + std::to_string(com), &payload) &&
        !zbtest::wire::DecodeSnapshot(payload, &s))
        ADD_FAILURE() << "modem host: unreadable snapshot";
    return s;
}

std::vector<std::string> Simulator::requests(int com) const {
    std::vector<std::string> lines;
    std::string payload;
    if (impl_->Do("requests " + std::to_string(com), &payload) &&
        !zbtest::wire::DecodeLines(payload, &lines))
        ADD_FAILURE() << "modem host: unreadable requests";
    return lines;
}

void Simulator::clear_requests(int com) {
    impl_->Do("clear-requests " + std::to_string(com));
}

}  // namespace zbsim
