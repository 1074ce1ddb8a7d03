// Pieces handed on in report order whatever the schedule: several workers
// stepped on one thread in a scripted or seeded order (pieces taken,
// read ahead, parked, handed on early or late, failing anywhere), and the
// same work on real threads.
#include <gtest/gtest.h>

#include <atomic>
#include <deque>
#include <optional>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "ordered_pieces.hpp"

namespace hittab::tests {
namespace {

// A report of `pieces` pieces, the last ending it; each hand-on is noted.
struct NotedWork {
    struct Thread {
        int number;
    };
    struct Piece {
        std::uint64_t read = ~std::uint64_t{0};  // the piece whose reading ahead this slot holds
    };
    struct HandedOn {
        std::uint64_t index;
        bool read_ahead;
        int thread;
        bool operator==(const HandedOn& other) const {
            return index == other.index && read_ahead == other.read_ahead && thread == other.thread;
        }
    };

    std::uint64_t pieces = 1;
    std::optional<std::uint64_t> failing;  // the piece whose hand-on raises

    std::atomic<int> threads_started{0};
    std::atomic<std::uint64_t> read_ahead_count{0};
    std::vector<HandedOn> handed_on;  // touched only in turn
    bool slot_mixed_up = false;

    Thread start_thread() { return Thread{threads_started++}; }
    void read_ahead(std::uint64_t index, Thread&, Piece& piece) noexcept {
        piece.read = index;
        ++read_ahead_count;
    }
    bool hand_on(std::uint64_t index, Thread& thread, Piece& piece, bool read_ahead) {
        // What is handed on must be this piece's own reading, not a later one's.
        if (read_ahead && piece.read != index) slot_mixed_up = true;
        handed_on.push_back({index, read_ahead, thread.number});
        if (failing && index == *failing) throw std::runtime_error("piece " + std::to_string(index));
        return index + 1 < pieces;
    }
};

using Worker = PieceWorker<NotedWork>;

// Workers stepped one at a time on this thread.
struct Schedule {
    Schedule(NotedWork& work, int workers) {
        for (int i = 0; i < workers; ++i) this->workers.emplace_back(work, turns);
        states.assign(workers, Worker::State::ready);
    }

    bool can_step(int worker) const {
        switch (states[worker]) {
            case Worker::State::ready: return true;
            case Worker::State::waiting: return turns.over() || turns.is_turn_of(workers[worker].awaited());
            case Worker::State::done: return false;
        }
        return false;
    }
    Worker::State step(int worker) { return states[worker] = workers[worker].step(); }
    bool all_done() const {
        for (Worker::State state : states) {
            if (state != Worker::State::done) return false;
        }
        return true;
    }
    // The failure that ended the work, as text; empty without one.
    std::string failure() const {
        try {
            turns.rethrow_failure();
        } catch (const std::runtime_error& error) {
            return error.what();
        }
        return "";
    }

    TakingTurns turns;
    std::deque<Worker> workers;
    std::vector<Worker::State> states;
};

TEST(OrderedPieces, AWorkerParksAPieceReadBeforeItsTurnAndReadsTheNext) {
    NotedWork work;
    work.pieces = 3;
    Schedule schedule(work, 2);
    using State = Worker::State;
    EXPECT_EQ(schedule.step(0), State::ready);    // takes 0: its turn already, not read ahead
    EXPECT_EQ(schedule.step(1), State::ready);    // takes 1, reads it ahead
    EXPECT_EQ(schedule.step(1), State::ready);    // not its turn: parks it
    EXPECT_EQ(schedule.step(1), State::ready);    // takes 2, reads it ahead
    EXPECT_EQ(schedule.step(1), State::waiting);  // 1 must go first
    EXPECT_EQ(schedule.workers[1].awaited(), 1u);
    EXPECT_EQ(work.read_ahead_count, 2u);
    EXPECT_TRUE(work.handed_on.empty());
    EXPECT_EQ(schedule.step(0), State::ready);  // hands on 0 in its turn
    EXPECT_TRUE(schedule.can_step(1));
    EXPECT_EQ(schedule.step(1), State::ready);  // hands on the parked 1
    EXPECT_EQ(schedule.step(1), State::ready);  // and 2, whose turn has come
    EXPECT_EQ(schedule.step(0), State::done);
    EXPECT_EQ(schedule.step(1), State::done);
    const std::vector<NotedWork::HandedOn> expected = {{0, false, 0}, {1, true, 1}, {2, true, 1}};
    EXPECT_EQ(work.handed_on, expected);
    EXPECT_FALSE(work.slot_mixed_up);
    EXPECT_EQ(schedule.failure(), "");
}

TEST(OrderedPieces, AFailingParkedPieceEndsTheWorkInItsTurn) {
    NotedWork work;
    work.pieces = 10;
    work.failing = 1;
    Schedule schedule(work, 2);
    for (int i = 0; i < 4; ++i) schedule.step(1);  // takes 1, parks it, takes 2, waits for 1
    schedule.step(0);                              // hands on 0
    EXPECT_EQ(schedule.step(1), Worker::State::done);
    EXPECT_EQ(schedule.step(0), Worker::State::done);
    ASSERT_EQ(work.handed_on.size(), 2u);
    EXPECT_EQ(work.handed_on.back().index, 1u);
    EXPECT_EQ(schedule.failure(), "piece 1");
}

// Every schedule of 1 to 5 workers over 1 to 12 pieces, with or without a
// failing piece: never stuck, each piece up to the end (or the failure)
// handed on once, in order, with its own reading.
TEST(OrderedPieces, EveryScheduleHandsPiecesOnInOrder) {
    for (unsigned seed = 1; seed <= 2000; ++seed) {
        SCOPED_TRACE("seed " + std::to_string(seed));
        std::mt19937 random(seed);
        NotedWork work;
        work.pieces = 1 + random() % 12;
        if (random() % 3 == 0) work.failing = random() % work.pieces;
        int workers = 1 + static_cast<int>(random() % 5);
        Schedule schedule(work, workers);
        for (int steps = 0; !schedule.all_done(); ++steps) {
            std::vector<int> can;
            for (int w = 0; w < workers; ++w) {
                if (schedule.can_step(w)) can.push_back(w);
            }
            ASSERT_FALSE(can.empty()) << "no worker can go on";
            ASSERT_LT(steps, 10000) << "the work does not end";
            schedule.step(can[random() % can.size()]);
        }
        std::uint64_t last = work.failing ? *work.failing : work.pieces - 1;
        ASSERT_EQ(work.handed_on.size(), last + 1);
        for (std::uint64_t i = 0; i <= last; ++i) EXPECT_EQ(work.handed_on[i].index, i);
        EXPECT_FALSE(work.slot_mixed_up);
        EXPECT_EQ(schedule.failure(), work.failing ? "piece " + std::to_string(*work.failing) : "");
    }
}

TEST(OrderedPieces, RealThreadsHandPiecesOnInOrder) {
    for (unsigned threads : {1u, 2u, 3u, 8u}) {
        for (std::optional<std::uint64_t> failing :
             {std::optional<std::uint64_t>(), std::optional<std::uint64_t>(777)}) {
            NotedWork work;
            work.pieces = 2000;
            work.failing = failing;
            std::string failure;
            try {
                ASSERT_TRUE(convert_in_order(work, threads));
            } catch (const std::runtime_error& error) {
                failure = error.what();
            }
            std::uint64_t last = failing ? *failing : work.pieces - 1;
            ASSERT_EQ(work.handed_on.size(), last + 1) << threads << " threads";
            for (std::uint64_t i = 0; i <= last; ++i) ASSERT_EQ(work.handed_on[i].index, i);
            EXPECT_FALSE(work.slot_mixed_up);
            EXPECT_EQ(work.threads_started.load(), static_cast<int>(threads));
            EXPECT_EQ(failure, failing ? "piece 777" : "");
        }
    }
}

TEST(OrderedPieces, ThreadsNeverOutnumberThePiecesOrTheLimit) {
    EXPECT_EQ(threads_for(1, 8), 1u);
    EXPECT_EQ(threads_for(0, 8), 1u);
    EXPECT_EQ(threads_for(100, 3), 3u);
    EXPECT_EQ(threads_for(100, 64), most_threads);
    unsigned available = threads_for(1000);
    EXPECT_GE(available, 1u);
    EXPECT_LE(available, std::min(processors_available(), most_threads));
}

}  // namespace
}  // namespace hittab::tests
