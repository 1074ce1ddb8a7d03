// The header of a gzip member (RFC 1952), read as its bytes arrive: the
// fixed ten bytes, then the optional extra field, name, comment and header
// CRC that its flags announce. The header CRC (FHCRC) is checked as gzip
// checks it; the deflate data after the header is the inflater's.
#pragma once

#include <cstddef>
#include <cstdint>

namespace hittab {

class GzipHeader {
public:
    // Takes the next header bytes from [bytes, bytes + size) and returns how
    // many it took: all of them unless the header ends among them or is
    // damaged, which complete() and damage() then tell.
    std::size_t take(const unsigned char* bytes, std::size_t size);

    bool complete() const { return step_ == Step::done; }
    // What is wrong with the header, in the words of a failure; null while nothing is.
    const char* damage() const { return damage_; }
    // Whether the extra field holds BGZF's "BC" subfield (the packed size of
    // the block), as bgzip and htslib write in every member.
    bool is_bgzf_block() const { return bgzf_block_; }

private:
    enum class Step { fixed, extra_length, extra, name, comment, header_crc, done };

    std::size_t held_part_size() const;
    void finish_part();
    void check_extra_subfields();

    Step step_ = Step::fixed;
    unsigned char flags_ = 0;
    unsigned char held_[10] = {};  // the fixed part, the extra field's length or the header CRC, being read
    std::size_t held_size_ = 0;
    std::size_t extra_left_ = 0;
    unsigned char extra_[6] = {};  // the start of the extra field: BGZF's subfield, if it is one
    std::size_t extra_size_ = 0;
    std::uint32_t crc_ = 0;  // of the header bytes read so far
    bool bgzf_block_ = false;
    const char* damage_ = nullptr;
};

}  // namespace hittab
