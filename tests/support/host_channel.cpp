#include "host_channel.h"

#include <gtest/gtest.h>

namespace zbtest {

bool HostOk(const std::string& request, const std::string& reply, std::string* payload) {
    if (reply == "ok" || reply.rfind("ok ", 0) == 0) {
        if (payload != nullptr) *payload = reply.size() > 3 ? reply.substr(3) : std::string();
        return true;
    }
    ADD_FAILURE() << "modem host: \"" << request.substr(0, 60) << "\" gave \"" << reply << "\"";
    return false;
}

}  // namespace zbtest
