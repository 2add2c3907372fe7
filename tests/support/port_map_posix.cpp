#include <stdlib.h>

#include <filesystem>

#include <gtest/gtest.h>

#include "port_map.h"

namespace zbtest {
namespace {

// Sets `name` to `value`, keeping what it was for Restore().
void Point(const char* name, const std::string& value, std::string* previous, bool* had) {
    if (const char* old = ::getenv(name)) {
        *previous = old;
        *had = true;
    }
    ::setenv(name, value.c_str(), 1);
}

void Restore(const char* name, const std::string& previous, bool had) {
    if (had) {
        ::setenv(name, previous.c_str(), 1);
    } else {
        ::unsetenv(name);
    }
}

}  // namespace

PortMap::PortMap() {
    EXPECT_FALSE(path().empty());
    Point("ZBCONFIG_PORTS", path(), &previous_ports_, &had_ports_);
    std::error_code ec;
    std::filesystem::create_directory(lock_dir(), ec);
    Point("ZBCONFIG_LOCK_DIR", lock_dir(), &previous_locks_, &had_locks_);
}

PortMap::~PortMap() {
    Restore("ZBCONFIG_PORTS", previous_ports_, had_ports_);
    Restore("ZBCONFIG_LOCK_DIR", previous_locks_, had_locks_);
    std::error_code ec;
    std::filesystem::remove_all(lock_dir(), ec);
}

void PortMap::link(int com, const std::string& target) const {
    const std::string entry = path() + "/com" + std::to_string(com);
    std::error_code ec;
    std::filesystem::remove(entry, ec);
    std::filesystem::create_symlink(target, entry, ec);
    EXPECT_FALSE(ec) << ec.message();
}

void PortMap::link_missing(int com) const {
    link(com, path() + "/no-such-device");
}

}  // namespace zbtest
