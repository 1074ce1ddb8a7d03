#include "taking_turns.hpp"

namespace hittab {

namespace {

// A turn usually comes within a fraction of a piece's time: waiting for it
// awake is far quicker than being woken.
constexpr int checks_before_sleeping = 4096;

void pause_briefly() {
#if defined(__x86_64__) || defined(__i386__)
    __builtin_ia32_pause();
#elif defined(__aarch64__)
    asm volatile("yield");
#endif
}

}  // namespace

bool TakingTurns::wait_for(std::uint64_t index) {
    for (int check = 0; check < checks_before_sleeping; ++check) {
        if (over()) return false;
        if (is_turn_of(index)) return true;
        pause_briefly();
    }
    std::unique_lock<std::mutex> lock(mutex_);
    turn_passed_.wait(lock, [&] { return over_.load() || turn_.load() == index; });
    return !over_.load();
}

void TakingTurns::pass(std::uint64_t next_index) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        turn_.store(next_index, std::memory_order_release);
    }
    turn_passed_.notify_all();
}

void TakingTurns::end(std::exception_ptr failure) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!failure_) failure_ = failure;
        over_.store(true, std::memory_order_release);
    }
    turn_passed_.notify_all();
}

}  // namespace hittab
