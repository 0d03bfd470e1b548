#pragma once

// Threads kept from one fake run for the next: the player makes three threads in every run,
// and creating and ending them (with the sanitizers' bookkeeping for each) took a tenth of a
// fuzzed run. A kept thread waits, idle, until it is given its next work.

#include <functional>
#include <thread>

namespace clipnote::testing {

// Runs the work on an idle kept thread, or on a new one when none is idle, and returns that
// thread's id. The thread is kept again once the work returns.
std::thread::id RunOnKeptThread(std::function<void()> work);

}  // namespace clipnote::testing
