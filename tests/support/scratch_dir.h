// A private folder for one test or one test program, under the system's temporary directory,
// removed with everything in it when the object goes. path() is empty when the folder could
// not be made; callers assert on it.
#pragma once

#include <filesystem>
#include <random>
#include <string>
#include <string_view>
#include <system_error>

namespace zbtest {

class ScratchDir {
public:
    explicit ScratchDir(std::string_view prefix = "zbtest") {
        namespace fs = std::filesystem;
        std::error_code ec;
        const fs::path temp = fs::temp_directory_path(ec);
        if (ec) return;
        // create_directory refuses a name that exists, so the folder is ours alone.
        std::random_device seed;
        std::mt19937_64 random(seed());
        for (int i = 0; i < 100 && path_.empty(); ++i) {
            const fs::path dir = temp / (std::string(prefix) + "-" + std::to_string(random()));
            if (fs::create_directory(dir, ec)) path_ = dir.string();
        }
        if (!path_.empty())
            fs::permissions(path_, fs::perms::owner_all, fs::perm_options::replace, ec);
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
