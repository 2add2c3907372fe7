#include <filesystem>
#include <string>
#include <system_error>

#include <gtest/gtest.h>

#include "work_test_support.h"

namespace worktest {

void MapMissingPort(int com) {
    const std::string link = ScratchPath("com" + std::to_string(com));
    std::error_code ec;
    std::filesystem::remove(link, ec);
    std::filesystem::create_symlink(ScratchPath("no-such-device"), link, ec);
    EXPECT_FALSE(ec) << ec.message();
}

}  // namespace worktest
