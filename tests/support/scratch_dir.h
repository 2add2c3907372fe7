// A private folder for one test or one test program, under the system's temporary directory,
// removed with everything in it when the object goes. path() is empty when the folder could
// not be made; callers assert on it.
#pragma once

#include <stdlib.h>

#include <filesystem>
#include <string>
#include <string_view>

namespace zbtest {

class ScratchDir {
public:
    explicit ScratchDir(std::string_view prefix = "zbtest") {
        std::string pattern =
            (std::filesystem::temp_directory_path() / (std::string(prefix) + "-XXXXXX")).string();
        if (::mkdtemp(pattern.data()) != nullptr) path_ = pattern;
    }
    ~ScratchDir() {
        std::error_code ec;
        if (!path_.empty()) std::filesystem::remove_all(path_, ec);
    }
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;

    const std::string& path() const { return path_; }

private:
    std::string path_;
};

}  // namespace zbtest
