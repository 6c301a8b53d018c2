#include "ProbeHooks.h"

#include <cstdlib>
#include <cstring>

#ifdef VELK58_TEST_FAULTS
bool FaultRequested(const char* place) {
    const char* fault = std::getenv("VELK58_FAULT");
    return fault && std::strcmp(fault, place) == 0;
}
#endif
