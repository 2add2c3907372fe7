// What a window test does while it waits: it serves the event loop, so that the workers'
// queued reports and other programs' messages arrive meanwhile.
#pragma once

#include <QTest>

namespace zbtest {

inline void ServeEvents() {
    QTest::qWait(5);
}

}  // namespace zbtest
