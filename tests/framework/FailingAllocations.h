#pragma once

// Allocations of the test program fail on demand: with g_allocationsBeforeFailure at n, the
// n-th allocation after it throws std::bad_alloc, as when memory runs out, and the counter
// returns to -1 (never fail).
extern long g_allocationsBeforeFailure;
