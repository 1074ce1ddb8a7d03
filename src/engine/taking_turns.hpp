// Threads working on the pieces of one report at once and taking turns, in
// report order, to hand on what each piece gave: piece i's turn comes after
// piece i - 1's. Any thread can end the work for all, with a failure or
// without.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <exception>
#include <mutex>

namespace hittab {

class TakingTurns {
public:
    // The first piece no thread has taken; each piece is taken once.
    std::uint64_t take_next() { return next_.fetch_add(1); }

    // Whether it is piece `index`'s turn now.
    bool is_turn_of(std::uint64_t index) const { return turn_.load(std::memory_order_acquire) == index; }

    // Waits until it is piece `index`'s turn; false once the work is over.
    bool wait_for(std::uint64_t index);

    // Hands the turn to piece `next_index`.
    void pass(std::uint64_t next_index);

    // Ends the work for every thread, with `failure` unless one came first.
    void end(std::exception_ptr failure = nullptr);

    bool over() const { return over_.load(std::memory_order_acquire); }

    // Once every thread is done: raises the failure that ended the work, if any.
    void rethrow_failure() const {
        if (failure_) std::rethrow_exception(failure_);
    }

private:
    std::atomic<std::uint64_t> next_{0};
    std::atomic<std::uint64_t> turn_{0};
    std::atomic<bool> over_{false};
    std::mutex mutex_;
    std::condition_variable turn_passed_;
    std::exception_ptr failure_;
};

}  // namespace hittab
