#include "gzip_header.hpp"

#include <isa-l/crc.h>

#include <algorithm>
#include <cstring>

namespace hittab {

namespace {

constexpr unsigned char header_crc_flag = 0x02;
constexpr unsigned char extra_flag = 0x04;
constexpr unsigned char name_flag = 0x08;
constexpr unsigned char comment_flag = 0x10;
constexpr unsigned char reserved_flags = 0xe0;
constexpr unsigned char deflate_method = 8;

}  // namespace

// The parts read whole into held_: the fixed part, the extra field's length, the header CRC.
std::size_t GzipHeader::held_part_size() const { return step_ == Step::fixed ? 10 : 2; }

std::size_t GzipHeader::take(const unsigned char* bytes, std::size_t size) {
    std::size_t taken = 0;
    while (taken < size && step_ != Step::done && damage_ == nullptr) {
        const unsigned char* from = bytes + taken;
        std::size_t available = size - taken;
        std::size_t used = 0;
        switch (step_) {
            case Step::fixed:
            case Step::extra_length:
            case Step::header_crc: {
                std::size_t wanted = held_part_size() - held_size_;
                used = std::min(wanted, available);
                std::memcpy(held_ + held_size_, from, used);
                held_size_ += used;
                break;
            }
            case Step::extra: {
                used = std::min(extra_left_, available);
                std::size_t kept = std::min(sizeof extra_ - extra_size_, used);
                std::memcpy(extra_ + extra_size_, from, kept);
                extra_size_ += kept;
                extra_left_ -= used;
                break;
            }
            case Step::name:
            case Step::comment: {
                const void* end = std::memchr(from, 0, available);
                used = end != nullptr ? static_cast<const unsigned char*>(end) - from + 1 : available;
                break;
            }
            case Step::done: break;
        }
        // The header CRC covers every byte before it.
        if (step_ != Step::header_crc) crc_ = crc32_gzip_refl(crc_, from, used);
        taken += used;
        bool part_done = false;
        switch (step_) {
            case Step::fixed:
            case Step::extra_length:
            case Step::header_crc: part_done = held_size_ == held_part_size(); break;
            case Step::extra: part_done = extra_left_ == 0; break;
            case Step::name:
            case Step::comment: part_done = from[used - 1] == 0; break;
            case Step::done: break;
        }
        if (part_done) finish_part();
    }
    return taken;
}

void GzipHeader::finish_part() {
    switch (step_) {
        case Step::fixed:
            // The magic is the caller's to have checked.
            if (held_[2] != deflate_method) {
                damage_ = "gzip data uses an unknown compression method";
                return;
            }
            flags_ = held_[3];
            if ((flags_ & reserved_flags) != 0) {
                damage_ = "gzip header is invalid";
                return;
            }
            break;
        case Step::extra_length: extra_left_ = held_[0] | std::size_t{held_[1]} << 8; break;
        case Step::extra: check_extra_subfields(); break;
        case Step::name:
        case Step::comment: break;
        case Step::header_crc:
            if ((held_[0] | unsigned{held_[1]} << 8) != (crc_ & 0xffff)) {
                damage_ = "gzip: header checksum mismatch";
                return;
            }
            break;
        case Step::done: return;
    }
    held_size_ = 0;
    // The next part the flags announce, in the order RFC 1952 gives.
    Step next = step_;
    do {
        switch (next) {
            case Step::fixed: next = Step::extra_length; break;
            case Step::extra_length: next = extra_left_ != 0 ? Step::extra : Step::name; break;
            case Step::extra: next = Step::name; break;
            case Step::name: next = Step::comment; break;
            case Step::comment: next = Step::header_crc; break;
            case Step::header_crc: next = Step::done; break;
            case Step::done: break;
        }
    } while ((next == Step::extra_length && !(flags_ & extra_flag)) || (next == Step::name && !(flags_ & name_flag)) ||
             (next == Step::comment && !(flags_ & comment_flag)) ||
             (next == Step::header_crc && !(flags_ & header_crc_flag)));
    step_ = next;
}

void GzipHeader::check_extra_subfields() {
    // BGZF's subfield comes first: 'B', 'C', a length of 2, the block's size.
    bgzf_block_ =
        extra_size_ == sizeof extra_ && extra_[0] == 'B' && extra_[1] == 'C' && extra_[2] == 2 && extra_[3] == 0;
}

}  // namespace hittab
