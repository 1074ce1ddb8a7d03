// Text that may be read past both of its ends. The byte kernels read whole
// 64-byte windows, which start before the text and end after it; every view
// they are given must therefore lie in a buffer with `text_padding` readable
// bytes on each side. PaddedView can only be made from a PaddedBuffer (or cut
// from another PaddedView), so that rule holds wherever one is passed.
#pragma once

#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string_view>
#include <utility>

namespace hittab {

inline constexpr std::size_t text_padding = 64;

class PaddedView {
public:
    PaddedView() = default;

    const char* data() const { return data_; }
    std::size_t size() const { return size_; }
    bool empty() const { return size_ == 0; }
    std::string_view text() const { return std::string_view(data_, size_); }
    char operator[](std::size_t at) const { return data_[at]; }

    bool starts_with(std::string_view prefix) const {
        return size_ >= prefix.size() && std::memcmp(data_, prefix.data(), prefix.size()) == 0;
    }

    // Any cut of padded text is padded text: what lies around it is either
    // more of the text or the padding.
    PaddedView substr(std::size_t position, std::size_t count = std::string_view::npos) const {
        if (position > size_) position = size_;
        if (count > size_ - position) count = size_ - position;
        return PaddedView(data_ + position, count);
    }

    // The text from `begin` up to `end`, two places inside this view: the
    // kernels' unchecked cut, for their inner loops.
    PaddedView between(const char* begin, const char* end) const {
        return PaddedView(begin, static_cast<std::size_t>(end - begin));
    }

private:
    friend class PaddedBuffer;
    PaddedView(const char* data, std::size_t size) : data_(data), size_(size) {}

    const char* data_ = "";
    std::size_t size_ = 0;
};

// Owns `capacity` bytes of text with zeroed padding on both sides. Whoever
// writes text into it keeps the bytes a kernel may read past the end of that
// text defined (the reader zeroes them; copy_of fills the whole capacity).
class PaddedBuffer {
public:
    explicit PaddedBuffer(std::size_t capacity) { grow(capacity); }
    PaddedBuffer(const PaddedBuffer&) = delete;
    PaddedBuffer& operator=(const PaddedBuffer&) = delete;
    PaddedBuffer(PaddedBuffer&& other) noexcept
        : allocation_(std::exchange(other.allocation_, nullptr)), capacity_(std::exchange(other.capacity_, 0)) {}
    ~PaddedBuffer() { std::free(allocation_); }

    // A buffer holding a copy of `text`, exactly as large as it.
    static PaddedBuffer copy_of(std::string_view text) {
        PaddedBuffer buffer(text.size());
        if (!text.empty()) std::memcpy(buffer.data(), text.data(), text.size());
        return buffer;
    }

    char* data() { return allocation_ + text_padding; }
    const char* data() const { return allocation_ + text_padding; }
    std::size_t capacity() const { return capacity_; }

    PaddedView view(std::size_t position, std::size_t size) const { return PaddedView(data() + position, size); }
    PaddedView whole() const { return view(0, capacity_); }

    // Makes room for at least `capacity` bytes, keeping the text. The new
    // bytes are left as they are, so that memory the text never reaches is
    // never touched; only the padding after them is zeroed.
    void grow(std::size_t capacity) {
        if (allocation_ != nullptr && capacity <= capacity_) return;
        bool fresh = allocation_ == nullptr;
        void* grown = std::realloc(allocation_, text_padding + capacity + text_padding);
        if (grown == nullptr) throw std::bad_alloc();
        allocation_ = static_cast<char*>(grown);
        capacity_ = capacity;
        if (fresh) std::memset(allocation_, 0, text_padding);
        std::memset(allocation_ + text_padding + capacity, 0, text_padding);
    }

private:
    char* allocation_ = nullptr;
    std::size_t capacity_ = 0;
};

}  // namespace hittab
