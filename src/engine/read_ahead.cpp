#include "read_ahead.hpp"

#include <algorithm>
#include <cstring>
#include <new>

#include "part_size.hpp"
#include "small_thread.hpp"

namespace hittab {

std::size_t normalise_line_ends(char* text, std::size_t size, bool& previous_was_cr) {
    const char* read = text;
    const char* end = text + size;
    if (previous_was_cr && read != end && *read == '\n') ++read;
    previous_was_cr = false;
    char* write = text;
    while (read != end) {
        const char* cr = static_cast<const char*>(std::memchr(read, '\r', end - read));
        const char* stop = cr != nullptr ? cr : end;
        if (write != read) std::memmove(write, read, stop - read);
        write += stop - read;
        if (cr == nullptr) break;
        *write++ = '\n';
        read = cr + 1;
        if (read == end) {
            previous_was_cr = true;
        } else if (*read == '\n') {
            ++read;
        }
    }
    return write - text;
}

ReadAhead::ReadAhead(int descriptor, std::string path, std::size_t block_size, std::size_t ring_size)
    : source_(descriptor, std::move(path), block_size), block_size_(block_size), blocks_(ring_size) {
    buffers_.reserve(ring_size);
    for (std::size_t i = 0; i < ring_size; ++i) {
        buffers_.emplace_back(room() + block_size_);
        // The room is read as padding before a block whose start is handed out.
        std::memset(buffers_.back().data(), 0, room());
        blocks_[i].buffer = &buffers_.back();
        blocks_[i].data = buffers_.back().data() + room();
    }
    // The first block here: the decoder is chosen, and made, by this thread.
    fill(blocks_[0]);
    form_ = source_.form();
    read_count_ = 1;
    if (reading_ended()) return;

    auto start = [](void* self) -> void* {
        static_cast<ReadAhead*>(self)->fill_blocks();
        return nullptr;
    };
    threaded_ = start_small_thread(reader_, start, this);
}

ReadAhead::~ReadAhead() {
    if (!threaded_) return;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
    }
    block_released_.notify_one();
    source_.stop();
    pthread_join(reader_, nullptr);
}

bool ReadAhead::reading_ended() const {
    const Block& newest = blocks_[(read_count_ - 1) % blocks_.size()];
    return newest.last || newest.failure;
}

void ReadAhead::fill(Block& block) {
    block.size = 0;
    block.last = false;
    block.failure = nullptr;
    try {
        while (block.size < block_size_) {
            // In parts, each searched for CR while it is still in cache.
            std::size_t part = std::min(block_size_ - block.size, part_size);
            std::size_t got = source_.read(block.data + block.size, part);
            if (got == 0) {
                block.last = true;
                break;
            }
            block.size += normalise_line_ends(block.data + block.size, got, previous_was_cr_);
        }
    } catch (...) {
        block.failure = std::current_exception();
    }
    // Bytes past the text are padding to the kernels: keep them defined.
    std::memset(block.data + block.size, 0, text_padding);
}

void ReadAhead::fill_blocks() noexcept {
    for (std::uint64_t index = read_count_;; ++index) {
        {
            std::unique_lock<std::mutex> lock(mutex_);
            if (index - released_count_ == blocks_.size()) {
                // The ring is full: sleep until half of it is free again, so
                // that the converting thread wakes this one once per half
                // ring rather than once per block.
                release_that_wakes_ = index - blocks_.size() / 2;
                reader_asleep_ = true;
                block_released_.wait(lock, [&] { return stopping_ || released_count_ >= release_that_wakes_; });
                reader_asleep_ = false;
            }
            if (stopping_) return;
        }
        Block& block = blocks_[index % blocks_.size()];
        fill(block);
        bool wake;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            read_count_ = index + 1;
            wake = taker_asleep_ && (read_count_ >= read_that_wakes_ || block.last || block.failure);
        }
        if (wake) block_read_.notify_one();
        if (block.last || block.failure) return;
    }
}

Block ReadAhead::take() {
    if (!threaded_ && taken_count_ == read_count_) {
        // No thread to read ahead: read here, into the block the caller holds none of.
        fill(blocks_[read_count_++ % blocks_.size()]);
    }
    std::unique_lock<std::mutex> lock(mutex_);
    if (taken_count_ == read_count_) {
        // Woken once half the ring is read, or the reading has ended, rather
        // than for each block: waking this thread costs the reading thread,
        // which decompression keeps the busier, more than a block takes to scan.
        read_that_wakes_ = taken_count_ + blocks_.size() / 2;
        taker_asleep_ = true;
        block_read_.wait(
            lock, [&] { return read_count_ >= read_that_wakes_ || (taken_count_ < read_count_ && reading_ended()); });
        taker_asleep_ = false;
    }
    return blocks_[taken_count_++ % blocks_.size()];
}

void ReadAhead::release() {
    bool wake;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        ++released_count_;
        wake = reader_asleep_ && released_count_ >= release_that_wakes_;
    }
    if (wake) block_released_.notify_one();
}

}  // namespace hittab
