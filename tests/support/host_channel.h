// A connection to the modem host (modem_host.cpp) named by ZBTEST_MODEM_HOST
// ("127.0.0.1:PORT"): one request line out, one reply line back.
//
// Call() may be used from several threads; the calls take turns.
#pragma once

#include <memory>
#include <mutex>
#include <string>

namespace zbtest {

class HostChannel {
public:
    HostChannel();  // connects; error() says why when it could not
    ~HostChannel();
    HostChannel(const HostChannel&) = delete;
    HostChannel& operator=(const HostChannel&) = delete;

    bool connected() const;
    const std::string& error() const { return error_; }
    // The reply line without its end, or "err ..." when the connection failed.
    std::string Call(const std::string& request);

private:
    struct Socket;
    std::unique_ptr<Socket> socket_;
    std::string error_;
    std::string buffer_;
    std::mutex mutex_;
};

// Whether `reply` is "ok[ PAYLOAD]"; stores the payload. Any other reply fails the running
// test with the request and the reply.
bool HostOk(const std::string& request, const std::string& reply, std::string* payload = nullptr);

}  // namespace zbtest
