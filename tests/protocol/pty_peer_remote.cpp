#include "host_channel.h"
#include "modem_host_wire.h"
#include "pty_peer.h"

namespace zbtest {

struct PtyPeer::Side {
    HostChannel host;

    std::string Do(const std::string& request) {
        std::string payload;
        (void)HostOk(request, host.Call(request), &payload);
        return payload;
    }
};

PtyPeer::PtyPeer(const PortMap&, int com) : side_(std::make_unique<Side>()) {
    EXPECT_TRUE(side_->host.connected()) << side_->host.error();
    std::string device;
    EXPECT_TRUE(wire::Unhex(side_->Do("peer " + std::to_string(com)), &device));
    path_ = "\\\\.\\COM" + std::to_string(com);
}

PtyPeer::~PtyPeer() = default;  // the host drops the terminal with the connection

void PtyPeer::send(const std::string& bytes) const {
    (void)side_->Do("send " + wire::Hex(bytes));
}

std::string PtyPeer::receive(std::size_t expected, int deadline_ms) const {
    std::string got;
    EXPECT_TRUE(wire::Unhex(
        side_->Do("receive " + std::to_string(expected) + ' ' + std::to_string(deadline_ms)),
        &got));
    return got;
}

void PtyPeer::wait_queued(int count) const {
    (void)side_->Do("queued " + std::to_string(count));
}

void PtyPeer::set_exclusive(bool) const {
    ADD_FAILURE() << "exclusive mode is a terminal matter of Linux";
}

bool PtyPeer::exclusive() const {
    ADD_FAILURE() << "exclusive mode is a terminal matter of Linux";
    return false;
}

void PtyPeer::close_master() {
    (void)side_->Do("close-master");
}

}  // namespace zbtest
