// The per-port job's choice of its next step: a table, no port needed.
#include <gtest/gtest.h>

#include "jobs/engine/port_job.h"

namespace {

// The choice of each port's next step, over every phase, the flags that matter in it and a
// stop.
TEST(PortJob, NextStepFollowsThePhaseAndTheFlags) {
    using P = zb::PortPhase;
    using S = zb::PortStep;
    const struct {
        P phase;
        bool selected, is_open, apply, upgrade, wait, stop;
        S step;
    } cases[] = {
        {P::Start, false, false, true, true, false, false, S::Done},
        {P::Start, false, true, true, false, false, false, S::Done},
        {P::Start, true, false, false, false, false, false, S::OpenCheck},
        {P::Start, true, false, true, true, true, false, S::OpenCheck},
        // Left open by the job before: no check, only what is pending.
        {P::Start, true, true, false, false, false, false, S::Done},
        {P::Start, true, true, true, false, false, false, S::Apply},
        {P::Start, true, true, true, true, false, false, S::Apply},
        {P::Start, true, true, true, true, true, false, S::Upgrade},
        {P::Start, true, true, true, false, true, false, S::Done},
        {P::Start, true, true, false, true, false, false, S::Upgrade},
        {P::OpenFailed, true, false, true, true, false, false, S::OpenFail},
        {P::Answered, true, true, false, false, false, false, S::Read},
        {P::Answered, true, true, true, false, false, false, S::Apply},
        {P::Answered, true, true, false, true, false, false, S::Upgrade},
        {P::Silent, true, true, false, false, false, false, S::ConnectionFail},
        {P::Silent, true, true, true, false, false, false, S::ConnectionFail},
        {P::InLoader, true, true, false, false, false, false, S::LoaderWait},
        {P::InLoader, true, true, true, false, false, false, S::LoaderWait},
        {P::InLoader, true, true, false, true, false, false, S::Upgrade},
        {P::InLoader, true, true, true, true, true, false, S::Upgrade},
        {P::InLoader, true, true, true, true, false, false, S::Apply},
        // After a failed check or the loader wait: the pending step, never a read.
        {P::Ready, true, true, false, false, false, false, S::Done},
        {P::Ready, true, true, true, false, false, false, S::Apply},
        {P::Ready, true, true, true, false, true, false, S::Done},
        {P::Ready, true, false, true, true, false, false, S::Done},
        {P::Finished, true, true, true, true, false, false, S::Done},
        // After a stop, a step that would work on the port is Stopped; what only reports runs.
        {P::Start, false, false, true, false, false, true, S::Done},
        {P::Start, true, false, false, false, false, true, S::Stopped},
        {P::Start, true, true, true, false, false, true, S::Stopped},
        {P::Answered, true, true, false, false, false, true, S::Stopped},
        {P::InLoader, true, true, false, true, false, true, S::Stopped},
        {P::OpenFailed, true, false, true, false, false, true, S::OpenFail},
        {P::Silent, true, true, true, false, false, true, S::ConnectionFail},
        {P::InLoader, true, true, false, false, false, true, S::LoaderWait},
        {P::Ready, true, true, false, false, false, true, S::Done},
        {P::Finished, true, true, true, true, false, true, S::Done},
    };
    for (const auto& c : cases) {
        zb::PortFlags f;
        f.phase = c.phase;
        f.selected = c.selected;
        f.is_open = c.is_open;
        f.apply_pending = c.apply;
        f.upgrade_pending = c.upgrade;
        f.upgrade_wait = c.wait;
        f.stop = c.stop;
        EXPECT_EQ(zb::NextStep(f), c.step)
            << "phase " << static_cast<int>(c.phase) << " selected " << c.selected << " open "
            << c.is_open << " apply " << c.apply << " upgrade " << c.upgrade << " wait " << c.wait
            << " stop " << c.stop;
    }
}

}  // namespace
