#pragma once
// The standard streams as every program needs them before it opens anything:
// descriptors 0, 1 and 2 taken. A program started with one of them closed
// (`>&-`, some service managers) would otherwise get its port or its log on
// that number, and write its progress or its result into it. One
// implementation per platform.

namespace veltrad {

// Opens the null device on each of descriptors 0-2 that is not open. False
// when one stays free (no null device to open); the caller must then open
// nothing.
bool OpenStandardStreams() noexcept;

}  // namespace veltrad
