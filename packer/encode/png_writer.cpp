#include "png_writer.h"

#include "error.h"
#include "file.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include <zlib.h>

namespace vintrix {
namespace {

// The PNG container is written here and the pixels compressed with zlib
// directly, so that rows without images can skip the compressor: after a
// full flush a deflate stream may continue with any complete blocks, and the
// blocks of one empty row, compressed once, are valid wherever an empty row
// follows a flush. A 65536-pixel-wide sheet that is mostly empty is written
// at the speed of the disk instead of at the speed of deflate.

// Frees a stream that need not have finished: deflateEnd then says
// Z_DATA_ERROR, which only means that, so its code is not looked at here.
// ImageData::finish checks it for the stream that did finish.
struct DeflateEnd {
    void operator()(z_stream* z) const {
        deflateEnd(z);
        delete z;
    }
};

void put32(std::vector<std::uint8_t>& out, std::uint32_t v) {
    for (int shift = 24; shift >= 0; shift -= 8)
        out.push_back(static_cast<std::uint8_t>(v >> shift));
}

enum Filter : std::uint8_t { kNone = 0, kSub = 1, kUp = 2 };

class PngFile {
public:
    PngFile(const std::string& path) : path_(path), buffer_(1 << 20) {
        file_.reset(std::fopen(path.c_str(), "wb"));
        if (!file_)
            throw OutputError("cannot create " + path + ": " + std::strerror(errno));
        std::setvbuf(file_.get(), buffer_.data(), _IOFBF, buffer_.size());
        write(reinterpret_cast<const std::uint8_t*>("\x89PNG\r\n\x1a\n"), 8);
    }

    void chunk(const char type[4], const std::uint8_t* data, std::size_t size) {
        std::vector<std::uint8_t> head;
        put32(head, static_cast<std::uint32_t>(size));
        head.insert(head.end(), type, type + 4);
        uLong crc = crc32(0, head.data() + 4, 4);
        if (size > 0)
            crc = crc32_z(crc, data, size);
        std::vector<std::uint8_t> tail;
        put32(tail, static_cast<std::uint32_t>(crc));
        write(head.data(), head.size());
        write(data, size);
        write(tail.data(), tail.size());
    }

    void close() {
        if (std::fflush(file_.get()) != 0 || std::ferror(file_.get()))
            fail();
        if (std::fclose(file_.release()) != 0)
            fail();
    }

    [[noreturn]] void fail() const { fail(std::strerror(errno)); }
    [[noreturn]] void fail(const std::string& why) const { throw OutputError("cannot write " + path_ + ": " + why); }

private:
    void write(const std::uint8_t* data, std::size_t size) {
        if (size > 0 && std::fwrite(data, 1, size, file_.get()) != size)
            fail();
    }

    std::string path_;
    std::vector<char> buffer_;  // declared before the file, so it outlives it
    File file_;
};

// The zlib stream of the image data, cut into IDAT chunks.
class ImageData {
public:
    ImageData(PngFile& file, std::size_t rowBytes) : file_(file), rowBytes_(rowBytes) {
        stream_ = start();
        out_ = {0x78, 0x01};  // zlib header: deflate, 32 KiB window
        emptyRow_ = compressedEmptyRow();
        std::vector<std::uint8_t> zeros(rowBytes_ + 1, 0);
        emptyAdler_ = adler32_z(1, zeros.data(), zeros.size());
    }

    // `row` starts with its filter byte.
    void content(const std::uint8_t* row) {
        adler_ = adler32_z(adler_, row, rowBytes_ + 1);
        deflateInto(*stream_, row, rowBytes_ + 1, Z_NO_FLUSH, out_);
        flushed_ = false;
        spill();
    }

    void empty() {
        if (!flushed_) {
            deflateInto(*stream_, nullptr, 0, Z_FULL_FLUSH, out_);
            flushed_ = true;
        }
        out_.insert(out_.end(), emptyRow_.begin(), emptyRow_.end());
        adler_ = adler32_combine(adler_, emptyAdler_, static_cast<z_off_t>(rowBytes_ + 1));
        spill();
    }

    void finish() {
        deflateInto(*stream_, nullptr, 0, Z_FINISH, out_);
        z_stream* z = stream_.release();
        const int ended = deflateEnd(z);
        delete z;
        if (ended != Z_OK)
            zlibFailed(ended);
        put32(out_, static_cast<std::uint32_t>(adler_));
        file_.chunk("IDAT", out_.data(), out_.size());
        out_.clear();
    }

private:
    using Stream = std::unique_ptr<z_stream, DeflateEnd>;

    [[noreturn]] void zlibFailed(int code) const {
        file_.fail(code == Z_MEM_ERROR ? std::string("out of memory") : "zlib error " + std::to_string(code));
    }

    Stream start() const {
        Stream s(new z_stream{});
        if (const int code = deflateInit2(s.get(), kPngCompressionLevel, Z_DEFLATED, -15, 8, Z_RLE); code != Z_OK) {
            delete s.release();  // nothing to end
            zlibFailed(code);
        }
        return s;
    }

    // Z_BUF_ERROR only says that a call could make no progress, which the
    // last call of a flush may find; any other code but these is a failure.
    void deflateInto(z_stream& z, const std::uint8_t* data, std::size_t size, int flush,
                     std::vector<std::uint8_t>& out) const {
        z.next_in = const_cast<Bytef*>(data);
        z.avail_in = static_cast<uInt>(size);
        std::uint8_t chunk[1 << 16];
        do {
            z.next_out = chunk;
            z.avail_out = sizeof chunk;
            if (const int code = deflate(&z, flush); code != Z_OK && code != Z_STREAM_END && code != Z_BUF_ERROR)
                zlibFailed(code);
            out.insert(out.end(), chunk, chunk + (sizeof chunk - z.avail_out));
        } while (z.avail_out == 0 || z.avail_in > 0);
    }

    std::vector<std::uint8_t> compressedEmptyRow() const {
        const Stream s = start();
        std::vector<std::uint8_t> zeros(rowBytes_ + 1, 0), out;
        deflateInto(*s, zeros.data(), zeros.size(), Z_FULL_FLUSH, out);
        return out;
    }

    void spill() {
        if (out_.size() >= (1u << 20)) {
            file_.chunk("IDAT", out_.data(), out_.size());
            out_.clear();
        }
    }

    PngFile& file_;
    std::size_t rowBytes_;
    Stream stream_;
    std::vector<std::uint8_t> out_, emptyRow_;
    uLong adler_ = 1, emptyAdler_ = 1;
    bool flushed_ = true;
};

// Chooses among no filter, SUB and UP the one whose output has the smallest
// sum of absolute signed bytes, the usual guess at what compresses best.
void filterRow(const std::uint8_t* row, const std::uint8_t* prev, std::size_t n, std::size_t bpp,
               std::vector<std::uint8_t>& sub, std::vector<std::uint8_t>& up, std::vector<std::uint8_t>& none) {
    auto cost = [](std::uint8_t v) { return v < 128 ? v : 256 - v; };
    std::uint64_t costNone = 0, costSub = 0, costUp = 0;
    for (std::size_t i = 0; i < n; ++i) {
        const std::uint8_t s = static_cast<std::uint8_t>(row[i] - (i >= bpp ? row[i - bpp] : 0));
        const std::uint8_t u = static_cast<std::uint8_t>(row[i] - prev[i]);
        none[i + 1] = row[i];
        sub[i + 1] = s;
        up[i + 1] = u;
        costNone += cost(row[i]);
        costSub += cost(s);
        costUp += cost(u);
    }
    none[0] = kNone;
    sub[0] = kSub;
    up[0] = kUp;
    if (costSub < costNone && costSub <= costUp)
        none.swap(sub);
    else if (costUp < costNone)
        none.swap(up);
}

}  // namespace

void writePng(const std::string& path, RowComposer& rows, const std::vector<Rgba>& palette) {
    const bool indexed = !palette.empty();
    const std::size_t bpp = indexed ? 1 : 4;
    const std::size_t rowBytes = static_cast<std::size_t>(rows.width()) * bpp;

    PngFile file(path);
    std::vector<std::uint8_t> header;
    put32(header, static_cast<std::uint32_t>(rows.width()));
    put32(header, static_cast<std::uint32_t>(rows.height()));
    header.insert(header.end(), {8, static_cast<std::uint8_t>(indexed ? 3 : 6), 0, 0, 0});
    file.chunk("IHDR", header.data(), header.size());
    if (indexed) {
        std::vector<std::uint8_t> plte, trns;
        for (const Rgba& c : palette) {
            plte.insert(plte.end(), {c[0], c[1], c[2]});
            trns.push_back(c[3]);
        }
        while (!trns.empty() && trns.back() == 255)
            trns.pop_back();
        file.chunk("PLTE", plte.data(), plte.size());
        if (!trns.empty())
            file.chunk("tRNS", trns.data(), trns.size());
    }

    {
        ImageData data(file, rowBytes);
        // Palette images compress best unfiltered; RGBA rows try SUB and UP,
        // which catch the flat and repeated areas of sprites.
        std::vector<std::uint8_t> prev(rowBytes, 0), none(rowBytes + 1), sub(rowBytes + 1), up(rowBytes + 1);
        for (int y = 0; y < rows.height(); ++y) {
            const std::uint8_t* row = rows.row(y);
            if (rows.rowIsEmpty()) {
                data.empty();
            } else if (indexed) {
                none[0] = kNone;
                std::memcpy(none.data() + 1, row, rowBytes);
                data.content(none.data());
            } else {
                filterRow(row, prev.data(), rowBytes, bpp, sub, up, none);
                data.content(none.data());
            }
            std::memcpy(prev.data(), row, rowBytes);
        }
        data.finish();
    }
    file.chunk("IEND", nullptr, 0);
    file.close();
}

}  // namespace vintrix
