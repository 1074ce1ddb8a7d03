// Reading that never makes the scanner wait: one thread reads the report
// (and decompresses it) into a small ring of blocks while the caller scans
// the blocks read before. Memory is the ring, whatever the report's size.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <exception>
#include <mutex>
#include <string>
#include <vector>

#include <pthread.h>

#include "byte_source.hpp"
#include "padded_text.hpp"

namespace hittab {

// One block of the report, its line ends already made LF. `data` is
// preceded by `room` writable bytes, where the caller may put the unfinished
// line of the block before, and followed by `text_padding` zero bytes.
struct Block {
    const PaddedBuffer* buffer = nullptr;  // holds the room and the block
    char* data = nullptr;
    std::size_t size = 0;
    bool last = false;           // the report ends after this block
    std::exception_ptr failure;  // reading failed after this block's bytes
};

class ReadAhead {
public:
    // Reads the first block of `descriptor` (not owned), named `path` in
    // failure reports, and starts a thread reading the rest, in blocks of
    // `block_size` bytes. Where no thread can be started, take() reads.
    ReadAhead(int descriptor, std::string path, std::size_t block_size, std::size_t ring_size = 4);
    // Stops the reading thread wherever it is and waits for it.
    ~ReadAhead();
    ReadAhead(const ReadAhead&) = delete;
    ReadAhead& operator=(const ReadAhead&) = delete;

    // The next block, once it is read. The caller holds it until it calls
    // release(), and may hold two blocks at a time: no more.
    Block take();
    // Gives the oldest block held back to the reading thread.
    void release();

    // The room before each block: as large as the block, up to 128 KiB. A
    // longer unfinished line is rare, and the caller gathers it elsewhere.
    std::size_t room() const { return block_size_ < max_room ? block_size_ : max_room; }

    // The report's form, known once the first block is read.
    StreamForm form() const { return form_; }

private:
    static constexpr std::size_t max_room = 128 * 1024;

    void fill_blocks() noexcept;
    void fill(Block& block);
    bool reading_ended() const;

    ByteSource source_;
    std::size_t block_size_;
    std::vector<PaddedBuffer> buffers_;  // each: `room` bytes, then the block
    std::vector<Block> blocks_;
    bool previous_was_cr_ = false;         // a CR ended the last block; an LF opening the next is its pair
    StreamForm form_ = StreamForm::plain;  // set before the reading thread starts

    std::mutex mutex_;
    std::condition_variable block_read_, block_released_;
    std::uint64_t read_count_ = 0;      // blocks read so far
    std::uint64_t taken_count_ = 0;     // blocks taken by the caller
    std::uint64_t released_count_ = 0;  // blocks given back
    bool reader_asleep_ = false;        // the reading thread waits for release_that_wakes_
    std::uint64_t release_that_wakes_ = 0;
    bool taker_asleep_ = false;  // the caller waits for read_that_wakes_, or the reading's end
    std::uint64_t read_that_wakes_ = 0;
    bool stopping_ = false;
    bool threaded_ = false;
    pthread_t reader_;
};

// Rewrites CR LF and lone CR in [text, text + size) as LF, in place, and
// returns the new size. `previous_was_cr` carries a CR at the end of one
// block over to an LF at the start of the next.
std::size_t normalise_line_ends(char* text, std::size_t size, bool& previous_was_cr);

}  // namespace hittab
