// Allocation failures on demand for the test programs: the global operator
// new of the test program counts its calls while counting is switched on,
// and throws std::bad_alloc at the n-th one when asked to.
#pragma once

namespace testing_support::allocations {

// Counting on from 0; the n-th allocation from now fails (0: none does).
void Count(long failAt = 0);
// Counting off; returns the allocations counted.
long Stop();

// Why a sweep is skipped when Stop() counted nothing.
inline constexpr const char* kNotOurOperatorNew =
    "operator new is not the test program's (valgrind or ThreadSanitizer has its own)";

}  // namespace testing_support::allocations
