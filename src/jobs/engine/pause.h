// The jobs' fixed pauses (500 ms between visible phases), with one process-wide scale.
//
// The scale is 1 unless a test or benchmark changes it; 0 skips the pauses. It may be
// changed from any thread, but is meant to be set once before a job starts.
#pragma once

#include <chrono>

namespace zb {

inline constexpr std::chrono::milliseconds kPhasePause{500};

void SetPauseScale(double scale);  // negative values count as 0
double PauseScale();
// Sleeps for `pause` times the scale.
void JobPause(std::chrono::milliseconds pause = kPhasePause);

}  // namespace zb
