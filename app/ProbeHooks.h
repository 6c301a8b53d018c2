// Test-only hooks of the probe build (velk58_probe), all through this one
// seam: VELK58_FAULT names the one check that is made to fail. In the shipped
// program every hook is a constant and compiles to nothing.
#pragma once

#ifdef VELK58_TEST_FAULTS
bool FaultRequested(const char* place);
#else
constexpr bool FaultRequested(const char*) {
    return false;
}
#endif
