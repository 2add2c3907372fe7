#include "work_test_support.h"

namespace worktest {

// The system has no COM n unless the modem host serves it: nothing to do.
void MapMissingPort(int) {}

}  // namespace worktest
