#include "jobs/engine/pause.h"

#include <atomic>
#include <thread>

namespace zb {
namespace {
std::atomic<double> pause_scale{1.0};
}

void SetPauseScale(double scale) {
    pause_scale.store(scale > 0 ? scale : 0.0);
}

double PauseScale() {
    return pause_scale.load();
}

void JobPause(std::chrono::milliseconds pause) {
    const double scale = pause_scale.load();
    if (scale <= 0 || pause.count() <= 0) return;
    std::this_thread::sleep_for(
        std::chrono::duration<double, std::milli>(static_cast<double>(pause.count()) * scale));
}

}  // namespace zb
