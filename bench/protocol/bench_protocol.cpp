// Protocol figures against the virtual modem:
//  (a) one transaction's round trip on an unpaced link, and the client's CPU time for it;
//  (b) an XMODEM-CRC transfer of a 256 KiB image to a paced modem, as a fraction of what
//      stop-and-wait XMODEM-CRC can carry at 115200 baud (128 data bytes per 133-byte block
//      plus its 1-byte answer). Floor: 0.95.
#include <stdlib.h>
#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "firmware_image.h"
#include "protocol/param_commands.h"
#include "protocol/serial_link.h"
#include "protocol/xmodem.h"
#include "sim/simulator.h"

namespace {

using Clock = std::chrono::steady_clock;

double thread_cpu_seconds() {
    rusage u{};
    getrusage(RUSAGE_THREAD, &u);
    return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

struct Bank {
    std::string dir;
    std::unique_ptr<zbsim::Simulator> sim;
    zb::ComHandle link;

    explicit Bank(bool pacing) {
        char tmpl[] = "/tmp/zbbench-XXXXXX";
        dir = mkdtemp(tmpl);
        setenv("ZBCONFIG_PORTS", dir.c_str(), 1);
        zbsim::SimOptions o;
        o.count = 1;
        o.ports_dir = dir;
        o.pacing = pacing;
        sim = std::make_unique<zbsim::Simulator>(o);
        std::string error;
        if (!sim->start(&error)) {
            std::fprintf(stderr, "zbsim: %s\n", error.c_str());
            std::exit(1);
        }
        if (zb::com_open(1, &link) != 0 || zb::com_setup(link, 115200, 0, 8, 0, 0) != 0) {
            std::fprintf(stderr, "cannot open COM1\n");
            std::exit(1);
        }
    }
    ~Bank() {
        zb::com_close(link);
        sim.reset();
        std::filesystem::remove_all(dir);
    }
};

void bench_transaction() {
    Bank bank(false);
    constexpr int warmup = 200;
    constexpr int rounds = 5000;
    std::int32_t v = 0;
    for (int i = 0; i < warmup; ++i) zb::dev_get_channel(bank.link, 0, &v);
    const double cpu0 = thread_cpu_seconds();
    const auto t0 = Clock::now();
    int failures = 0;
    for (int i = 0; i < rounds; ++i) failures += zb::dev_get_channel(bank.link, 0, &v) != 0;
    const double wall = std::chrono::duration<double>(Clock::now() - t0).count();
    const double cpu = thread_cpu_seconds() - cpu0;
    std::printf(
        "(a) transaction round trip, unpaced: %.1f us; client CPU %.1f us per "
        "transaction (%d rounds, %d failed)\n",
        wall / rounds * 1e6, cpu / rounds * 1e6, rounds, failures);
}

void bench_transfer() {
    Bank bank(true);
    constexpr std::size_t size = std::size_t{256} * 1024;
    std::vector<std::uint8_t> image = zbtest::MakeImage("0101", zbtest::PatternBody(size - 32));

    bank.sim->set_mode(1, zbsim::ModemMode::Loader);
    std::FILE* f = fmemopen(image.data(), image.size(), "rb");
    Clock::time_point first_block{};
    zb::XmHooks hooks;
    hooks.on_synced = [&first_block] { first_block = Clock::now(); };
    const zb::XmResult r = zb::xm_transfer(bank.link, f, size, hooks);
    const double secs = std::chrono::duration<double>(Clock::now() - first_block).count();
    std::fclose(f);

    constexpr double byte_time = 10.0 / 115200.0;
    // Whole blocks: the last one is padded.
    const auto whole_blocks = (size + 127) / 128;
    const double blocks = static_cast<double>(whole_blocks);
    // Every block and its answer, then EOT and its answer.
    const double limit_secs = (blocks * 134 + 2) * byte_time;
    const double ratio = limit_secs / secs;
    std::printf(
        "(b) XMODEM 256 KiB to a paced modem: %s in %.2f s, %.0f B/s; line limit %.2f s; "
        "ratio %.3f (floor 0.95) %s\n",
        r == zb::XmResult::Done ? "done" : "FAILED", secs, size / secs, limit_secs, ratio,
        ratio >= 0.95 ? "ok" : "BELOW FLOOR");
}

}  // namespace

int main() {
    bench_transaction();
    bench_transfer();
    return 0;
}
