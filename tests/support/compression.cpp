#include "compression.hpp"

#include <bzlib.h>
#include <isa-l/crc.h>
#include <isa-l/igzip_lib.h>
#include <lzma.h>
#include <zstd.h>

#include <stdexcept>

namespace hittab::tests {

namespace {

// Raw deflate, or a whole gzip member, at igzip's fastest level.
std::string deflate(std::string_view text, bool gzip_member) {
    std::string packed(text.size() + text.size() / 8 + 1024, '\0');
    isal_zstream stream;
    isal_deflate_stateless_init(&stream);
    stream.next_in = reinterpret_cast<std::uint8_t*>(const_cast<char*>(text.data()));
    stream.avail_in = static_cast<std::uint32_t>(text.size());
    stream.next_out = reinterpret_cast<std::uint8_t*>(packed.data());
    stream.avail_out = static_cast<std::uint32_t>(packed.size());
    stream.end_of_stream = 1;
    stream.gzip_flag = gzip_member ? IGZIP_GZIP : IGZIP_DEFLATE;
    stream.level = 0;
    if (isal_deflate_stateless(&stream) != COMP_OK) throw std::runtime_error("igzip cannot pack the text");
    packed.resize(stream.total_out);
    return packed;
}

void append_little_endian(std::string& bytes, std::uint32_t value, int size) {
    for (int i = 0; i < size; ++i) bytes += static_cast<char>(value >> (8 * i) & 0xff);
}

// A BGZF block: a gzip member whose extra field "BC" gives its packed size.
std::string bgzf_block(std::string_view text) {
    std::string body = deflate(text, false);
    std::string block("\x1f\x8b\x08\x04\0\0\0\0\0\xff\x06\0BC\x02\0", 16);
    append_little_endian(block, static_cast<std::uint32_t>(block.size() + 2 + body.size() + 8 - 1), 2);
    block += body;
    append_little_endian(block, crc32_gzip_refl(0, reinterpret_cast<const unsigned char*>(text.data()), text.size()),
                         4);
    append_little_endian(block, static_cast<std::uint32_t>(text.size()), 4);
    return block;
}

std::string zstd_frame(std::string_view text) {
    ZSTD_CCtx* context = ZSTD_createCCtx();
    ZSTD_CCtx_setParameter(context, ZSTD_c_checksumFlag, 1);
    std::string packed(ZSTD_compressBound(text.size()), '\0');
    std::size_t size = ZSTD_compress2(context, packed.data(), packed.size(), text.data(), text.size());
    ZSTD_freeCCtx(context);
    if (ZSTD_isError(size)) throw std::runtime_error("zstd cannot pack the text");
    packed.resize(size);
    return packed;
}

// One bzip2 stream of blocks of 100 kB, as `bzip2 -1` writes it.
std::string bzip2_stream(std::string_view text) {
    std::string packed(text.size() + text.size() / 100 + 1024, '\0');
    auto size = static_cast<unsigned>(packed.size());
    int result = BZ2_bzBuffToBuffCompress(packed.data(), &size, const_cast<char*>(text.data()),
                                          static_cast<unsigned>(text.size()), 1, 0, 0);
    if (result != BZ_OK) throw std::runtime_error("bzip2 cannot pack the text");
    packed.resize(size);
    return packed;
}

// One xz stream with its CRC64, as `xz -0` writes it.
std::string xz_stream(std::string_view text) {
    std::string packed(lzma_stream_buffer_bound(text.size()), '\0');
    std::size_t size = 0;
    lzma_ret result =
        lzma_easy_buffer_encode(0, LZMA_CHECK_CRC64, nullptr, reinterpret_cast<const std::uint8_t*>(text.data()),
                                text.size(), reinterpret_cast<std::uint8_t*>(packed.data()), &size, packed.size());
    if (result != LZMA_OK) throw std::runtime_error("xz cannot pack the text");
    packed.resize(size);
    return packed;
}

}  // namespace

std::vector<PackedForm> packed_forms(std::size_t block_size) {
    return {
        {"gzip", Packing::gzip, 0},
        {"gzip members of a block", Packing::gzip_members, block_size},
        {"gzip members of 7 bytes", Packing::gzip_members, 7},
        {"BGZF", Packing::bgzf, 65280},
        {"BGZF of a block and a half", Packing::bgzf, block_size + block_size / 2 + 1},
        {"zstd", Packing::zstd, 0},
        {"zstd frames of half a block", Packing::zstd_frames, block_size / 2 + 1},
        {"bzip2", Packing::bzip2, 0},
        {"bzip2 streams of a block", Packing::bzip2_streams, block_size},  // as pbzip2 writes
        {"xz", Packing::xz, 0},
        {"xz streams of a block and a half", Packing::xz_streams, block_size + block_size / 2 + 1},
    };
}

std::vector<std::string> packed_pieces(std::string_view text, const PackedForm& form) {
    std::size_t piece_size = form.piece_size == 0 ? text.size() : form.piece_size;
    std::vector<std::string> pieces;
    std::size_t at = 0;
    do {
        std::string_view piece = text.substr(at, piece_size);
        switch (form.packing) {
            case Packing::gzip:
            case Packing::gzip_members: pieces.push_back(deflate(piece, true)); break;
            case Packing::bgzf: pieces.push_back(bgzf_block(piece)); break;
            case Packing::zstd:
            case Packing::zstd_frames: pieces.push_back(zstd_frame(piece)); break;
            case Packing::bzip2:
            case Packing::bzip2_streams: pieces.push_back(bzip2_stream(piece)); break;
            case Packing::xz:
            case Packing::xz_streams: pieces.push_back(xz_stream(piece)); break;
        }
        at += piece.size();
    } while (at < text.size());
    if (form.packing == Packing::bgzf) pieces.push_back(bgzf_block(""));
    return pieces;
}

DamagedAtTheEnd packed_with_a_bad_checksum(std::string_view text, Packing packing) {
    struct Checksum {
        std::size_t from_end;  // where its byte to damage lies, counted from the end
        const char* damage;
    };
    auto checksum = [packing]() -> Checksum {
        switch (packing) {
            case Packing::gzip:
            case Packing::gzip_members:
            case Packing::bgzf: return {8, "gzip: checksum mismatch"};  // the trailer's CRC
            case Packing::zstd:
            case Packing::zstd_frames: return {1, "zstd: checksum mismatch"};  // the frame's checksum
            case Packing::bzip2:
            case Packing::bzip2_streams: return {3, "bzip2 data is corrupt"};  // the stream's CRC
            case Packing::xz:
            case Packing::xz_streams: return {1, "xz data is corrupt"};  // the stream footer's magic
        }
        return {1, ""};
    }();
    std::string packed = pack(text, {"one piece", packing, 0});
    packed[packed.size() - checksum.from_end] ^= 1;
    return {packed, checksum.damage};
}

std::string gzip_member_after(std::string_view header, std::string_view text) {
    std::string member(header);
    member += deflate(text, false);
    append_little_endian(member, crc32_gzip_refl(0, reinterpret_cast<const unsigned char*>(text.data()), text.size()),
                         4);
    append_little_endian(member, static_cast<std::uint32_t>(text.size()), 4);
    return member;
}

std::string pack(std::string_view text, const PackedForm& form) {
    std::string packed;
    for (const std::string& piece : packed_pieces(text, form)) packed += piece;
    return packed;
}

}  // namespace hittab::tests
