// bench_config_files: exporting the settings of all 1024 ports into configuration files (new
// files, then an update of the existing ones) and importing one file into all 1024 records.
// Export runs on the window's thread, so it is held to a ceiling a user would not notice as a
// hang; every file is synced before it replaces the old one, which is most of the cost.
#include <stdlib.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "config/config_file.h"

namespace {

constexpr double kExportCeilingMs = 2000.0;
constexpr double kImportCeilingMs = 5.0;
constexpr int kRuns = 5;

using Clock = std::chrono::steady_clock;

double Since(Clock::time_point t0) {
    return std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
}

double Median(std::vector<double> ms) {
    std::sort(ms.begin(), ms.end());
    return ms[ms.size() / 2];
}

}  // namespace

int main() {
    std::string dir = (std::filesystem::temp_directory_path() / "zbbench-XXXXXX").string();
    if (::mkdtemp(dir.data()) == nullptr) return 1;
    zb::PortTable rows;
    for (std::uint32_t com = 1; com <= zb::kPortTableSize; ++com) {
        zb::DeviceRecord& d = *zb::AddPort(rows[com - 1], com);
        d.devtype = com % 3;
        d.panid = com;
        d.lnodeid = com % 100;
        zb::SetText(d.devname, "Modem " + std::to_string(com));
    }

    std::vector<double> fresh, update, import;
    bool ok = true;
    for (int run = 0; run < kRuns && ok; ++run) {
        std::error_code ec;
        for (const auto& entry : std::filesystem::directory_iterator(dir))
            std::filesystem::remove(entry.path(), ec);
        auto t0 = Clock::now();
        ok = zb::WriteConfigFiles(rows, dir).empty();
        fresh.push_back(Since(t0));
        t0 = Clock::now();
        ok = ok && zb::WriteConfigFiles(rows, dir).empty();
        update.push_back(Since(t0));
        t0 = Clock::now();
        ok = ok && zb::ReadConfigFile(dir + "/" + zb::ConfigFileName(7), rows).ok();
        import.push_back(Since(t0));
    }
    std::error_code ec;
    std::filesystem::remove_all(dir, ec);
    if (!ok) {
        std::fprintf(stderr, "bench_config_files: a file could not be written or read\n");
        return 1;
    }

    const double worst_export = std::max(Median(fresh), Median(update));
    const double export_ratio = worst_export / kExportCeilingMs;
    const double import_ratio = Median(import) / kImportCeilingMs;
    std::printf(
        "Export of 1024 files: new %.0f ms, update %.0f ms (median of %d); ratio %.3f of the "
        "%.0f ms ceiling %s\n",
        Median(fresh), Median(update), kRuns, export_ratio, kExportCeilingMs,
        export_ratio < 1.0 ? "ok" : "ABOVE CEILING");
    std::printf(
        "Import of one file into 1024 records: %.3f ms; ratio %.3f of the %.0f ms ceiling %s\n",
        Median(import), import_ratio, kImportCeilingMs,
        import_ratio < 1.0 ? "ok" : "ABOVE CEILING");
    return export_ratio < 1.0 && import_ratio < 1.0 ? 0 : 1;
}
