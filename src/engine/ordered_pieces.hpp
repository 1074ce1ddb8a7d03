// Converting a report in pieces on several threads at once, the pieces
// handed on in report order: each thread takes the next piece no thread has
// taken and reads it ahead of its turn; at the piece's turn (piece i's
// comes after piece i - 1's) what it gave is handed on, or, where reading
// ahead could not stand (a failure, a line it could not place, too much to
// hold), the piece is read again in turn by the one-thread code. A thread
// whose piece is read before its turn has come parks it and reads its next
// one meanwhile; each thread parks at most one. Only code in turn raises a
// failure, so failures come in report order, with every row before them.
//
// A tool gives a Work type:
//   using Thread = ...;   what a thread keeps from piece to piece (its readers)
//   using Piece = ...;    what a thread read of one piece ahead of its turn
//   Thread start_thread();  on each thread as it starts, all at once
//   void read_ahead(std::uint64_t index, Thread&, Piece&) noexcept;
//   bool hand_on(std::uint64_t index, Thread&, Piece&, bool read_ahead);
//        in turn: hands on what the piece gave (or reads it, if it was not
//        read ahead or that reading cannot stand); false once the report
//        has ended. May raise: the conversion then fails with it.
#pragma once

#include <pthread.h>

#include <cstdint>
#include <exception>
#include <vector>

#include "small_thread.hpp"
#include "taking_turns.hpp"

namespace hittab {

// The most threads a conversion uses, however many processors there are:
// past them, handing pieces on in order costs more than they gain.
inline constexpr unsigned most_threads = 16;

// The processors this process may run on (sched_getaffinity), at least 1.
unsigned processors_available();

// How many threads convert a report of `pieces` pieces: `asked`, or when
// that is 0 as many as the processors available; never more than
// most_threads or the pieces, and at least one.
unsigned threads_for(std::uint64_t pieces, unsigned asked = 0);

// One thread's work, a step at a time, so that tests can run several in a
// chosen order on one thread.
template <typename Work>
class PieceWorker {
public:
    enum class State {
        ready,    // it can take its next step
        waiting,  // for the turn of piece awaited()
        done,     // the work is over
    };

    PieceWorker(Work& work, TakingTurns& turns) : work_(work), turns_(turns), thread_(work.start_thread()) {}
    // Its slots point into it.
    PieceWorker(const PieceWorker&) = delete;
    PieceWorker& operator=(const PieceWorker&) = delete;

    State step() noexcept;
    std::uint64_t awaited() const { return awaited_; }

private:
    struct Slot {
        typename Work::Piece piece;
        std::uint64_t index = 0;
        bool read_ahead = false;
    };
    enum class Next { take, hand_on_parked, hand_on_taken };

    void hand_on(Slot& slot);

    Work& work_;
    TakingTurns& turns_;
    typename Work::Thread thread_;
    Slot slots_[2];
    Slot* parked_ = nullptr;  // read ahead, waiting for its turn
    Slot* taken_ = nullptr;   // the piece taken last
    Next next_ = Next::take;
    std::uint64_t awaited_ = 0;
};

template <typename Work>
typename PieceWorker<Work>::State PieceWorker<Work>::step() noexcept {
    if (turns_.over()) return State::done;
    try {
        switch (next_) {
            case Next::take: {
                Slot& slot = parked_ == &slots_[0] ? slots_[1] : slots_[0];
                slot.index = turns_.take_next();
                // A piece whose turn has already come is read in it.
                slot.read_ahead = !turns_.is_turn_of(slot.index);
                if (slot.read_ahead) work_.read_ahead(slot.index, thread_, slot.piece);
                taken_ = &slot;
                next_ = parked_ != nullptr ? Next::hand_on_parked : Next::hand_on_taken;
                return State::ready;
            }
            case Next::hand_on_parked: {
                if (!turns_.is_turn_of(parked_->index)) {
                    awaited_ = parked_->index;
                    return State::waiting;
                }
                Slot& parked = *parked_;
                parked_ = nullptr;  // handed on, or failing in its turn: either way not again
                next_ = Next::hand_on_taken;
                hand_on(parked);
                return State::ready;
            }
            case Next::hand_on_taken:
                next_ = Next::take;
                if (turns_.is_turn_of(taken_->index)) {
                    hand_on(*taken_);
                } else {
                    parked_ = taken_;
                }
                return State::ready;
        }
    } catch (...) {
        turns_.end(std::current_exception());
    }
    return State::done;
}

template <typename Work>
void PieceWorker<Work>::hand_on(Slot& slot) {
    if (work_.hand_on(slot.index, thread_, slot.piece, slot.read_ahead)) {
        turns_.pass(slot.index + 1);
    } else {
        turns_.end();
    }
}

// Runs one worker on this thread until the work is over.
template <typename Work>
void work_on_pieces(Work& work, TakingTurns& turns) noexcept {
    try {
        PieceWorker<Work> worker(work, turns);
        for (;;) {
            switch (worker.step()) {
                case PieceWorker<Work>::State::ready: break;
                case PieceWorker<Work>::State::waiting: turns.wait_for(worker.awaited()); break;
                case PieceWorker<Work>::State::done: return;
            }
        }
    } catch (...) {
        turns.end(std::current_exception());
    }
}

// Converts every piece of `work` on `threads` threads, this one among them,
// and returns once all are done, raising the failure that ended the work,
// if any. False, with nothing read, when more than one thread is asked for
// and no second one can be started.
template <typename Work>
bool convert_in_order(Work& work, unsigned threads) {
    TakingTurns turns;
    struct Start {
        Work* work;
        TakingTurns* turns;
    } start{&work, &turns};
    auto run = [](void* start) -> void* {
        auto* what = static_cast<Start*>(start);
        work_on_pieces(*what->work, *what->turns);
        return nullptr;
    };
    std::vector<pthread_t> helpers;
    for (unsigned i = 1; i < threads; ++i) {
        pthread_t helper;
        if (!start_small_thread(helper, run, &start)) break;
        helpers.push_back(helper);
    }
    if (threads > 1 && helpers.empty()) return false;
    work_on_pieces(work, turns);
    for (pthread_t helper : helpers) pthread_join(helper, nullptr);
    turns.rethrow_failure();
    return true;
}

}  // namespace hittab
