// The one message pump of the launcher's thread.
#pragma once

// Process-wide count of active PumpMessages calls.
extern int PumpDepth;

// Drains the calling thread's queue for at most budgetMs (below 1: 15 000).
// With discardInput, user input is taken off the queue and dropped.
// Returns 1 when the queue ran empty or the budget was spent, 0 when a quit
// message was met (it is posted again), -1 when nesting was too deep or a
// window kept asking to be painted.
int PumpMessages(int budgetMs = 0, bool discardInput = false);
