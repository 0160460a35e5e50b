#pragma once

// Kills the real program at random moments of its edits, again and again, for about the
// given time: after each kill the next start must find the records file holding exactly
// the records from before or after the edit, and nothing left beside it or in the
// program's private folder. Fails the calling test on the first round that does not.

#include <chrono>

namespace perlwick::e2e {

void kill_during_edits(std::chrono::seconds budget);

}  // namespace perlwick::e2e
