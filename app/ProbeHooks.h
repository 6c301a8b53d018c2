// Test-only hooks of the probe build (velk58_probe), all through this one
// seam. VELK58_FAULT names the one check that is made to fail;
// VELK58_EVENT_LOG names a file that receives one line per event, for the
// end-to-end tests and the page-turn benchmarks. In the shipped program
// every hook is a constant and compiles to nothing.
#pragma once

#ifdef VELK58_TEST_FAULTS
bool FaultRequested(const char* place);
// "MICROSECONDS NAME" with the system time since 1970, so that a script can
// set its own clock beside it. From any thread.
void ProbeEvent(const char* name);
// The same, "stats PRIVATE_BYTES GDI_HANDLES KERNEL_HANDLES" of the process,
// as far as the platform tells them (0 where it does not).
void ProbeStats();
#else
constexpr bool FaultRequested(const char*) {
    return false;
}
inline void ProbeEvent(const char*) {}
inline void ProbeStats() {}
#endif
