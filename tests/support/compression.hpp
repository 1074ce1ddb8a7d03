// Reports packed as gzip, BGZF, zstd, bzip2 and xz files are written, for the tests
// that require every packing of a report to convert to the same table.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace hittab::tests {

enum class Packing { gzip, gzip_members, bgzf, zstd, zstd_frames, bzip2, bzip2_streams, xz, xz_streams };

struct PackedForm {
    const char* name;
    Packing packing;
    std::size_t piece_size;  // text per member, frame or stream; 0: one for the whole text
};

// The packed forms every conversion is checked through for reports read in
// blocks of `block_size`: members and frames end at block boundaries, and
// inside blocks.
std::vector<PackedForm> packed_forms(std::size_t block_size);

// `text` packed as `form`, one string per gzip member, zstd frame or bzip2 or xz stream. Each
// carries its checksum; BGZF ends with its empty end-of-file member.
std::vector<std::string> packed_pieces(std::string_view text, const PackedForm& form);

// The pieces joined: the file as a compressor would write it.
std::string pack(std::string_view text, const PackedForm& form);

// `text` packed in one member, frame or stream of `packing` (gzip, zstd,
// bzip2 or xz) whose checksum at its end is damaged: every byte decodes,
// then the stream fails with `damage` (the words after "cannot read report
// 'R': ").
struct DamagedAtTheEnd {
    std::string packed;
    std::string damage;
};
DamagedAtTheEnd packed_with_a_bad_checksum(std::string_view text, Packing packing);

// A gzip member of `text` after the header bytes `header` (magic, method,
// flags and the optional fields they announce), with its trailer.
std::string gzip_member_after(std::string_view header, std::string_view text);

}  // namespace hittab::tests
