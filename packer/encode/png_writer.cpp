#include "png_writer.h"

#include "deflate_blocks.h"
#include "error.h"
#include "file.h"

#include <algorithm>
#include <bit>
#include <chrono>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <functional>
#include <future>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <semaphore>
#include <thread>
#include <utility>

#include <libdeflate.h>
#include <zlib.h>

namespace vintrix {
namespace {

// The PNG container is written here and the pixels compressed directly, so
// that rows without images can skip the compressor: a deflate stream may
// continue with any complete blocks that end on a byte boundary, and the
// blocks of a run of empty rows, compressed once, are valid wherever such a
// run follows. A 65536-pixel-wide sheet that is mostly empty is written at
// the speed of the disk instead of at the speed of deflate.

struct CompressorFree {
    void operator()(libdeflate_compressor* c) const { libdeflate_free_compressor(c); }
};
using Compressor = std::unique_ptr<libdeflate_compressor, CompressorFree>;

// Every failure of a sheet names its file once, whichever part found it.
[[noreturn]] void failWriting(const std::string& path, const std::string& why)
{
    throw OutputError("cannot write " + path + ": " + why);
}

void put32(std::vector<std::uint8_t>& out, std::uint32_t v)
{
    for (int shift = 24; shift >= 0; shift -= 8)
        out.push_back(static_cast<std::uint8_t>(v >> shift));
}

enum Filter : std::uint8_t { kNone = 0, kSub = 1, kUp = 2, kAverage = 3, kPaeth = 4 };

class PngFile {
public:
    // The image data comes in chunks of up to a mebibyte or so, which stdio
    // writes through; its own small buffer gathers the chunks' heads.
    PngFile(const std::string& path) : path_(path)
    {
        file_.reset(std::fopen(path.c_str(), "wb"));
        if (!file_)
            throw OutputError("cannot create " + path + ": " + std::strerror(errno));
        write(reinterpret_cast<const std::uint8_t*>("\x89PNG\r\n\x1a\n"), 8);
    }

    void chunk(const char type[4], const std::uint8_t* data, std::size_t size)
    {
        std::vector<std::uint8_t> head;
        put32(head, static_cast<std::uint32_t>(size));
        head.insert(head.end(), type, type + 4);
        std::uint32_t crc = libdeflate_crc32(0, head.data() + 4, 4);
        if (size > 0)
            crc = libdeflate_crc32(crc, data, size);
        std::vector<std::uint8_t> tail;
        put32(tail, crc);
        write(head.data(), head.size());
        write(data, size);
        write(tail.data(), tail.size());
    }

    // A chunk written as its data comes: its length is filled in at the end.
    void beginChunk(const char type[4])
    {
        chunkStart_ = std::ftell(file_.get());
        if (chunkStart_ < 0)
            fail();
        const std::uint8_t head[8] = {0, 0, 0, 0, static_cast<std::uint8_t>(type[0]),
            static_cast<std::uint8_t>(type[1]), static_cast<std::uint8_t>(type[2]), static_cast<std::uint8_t>(type[3])};
        write(head, 8);
        chunkCrc_ = libdeflate_crc32(0, head + 4, 4);
        chunkSize_ = 0;
    }

    void append(const std::uint8_t* data, std::size_t size)
    {
        write(data, size);
        chunkCrc_ = libdeflate_crc32(chunkCrc_, data, size);
        chunkSize_ += size;
    }

    std::size_t chunkSize() const { return chunkSize_; }

    void endChunk()
    {
        std::vector<std::uint8_t> field;
        put32(field, chunkCrc_);
        write(field.data(), 4);
        field.clear();
        put32(field, static_cast<std::uint32_t>(chunkSize_));
        if (std::fseek(file_.get(), chunkStart_, SEEK_SET) != 0)
            fail();
        write(field.data(), 4);
        if (std::fseek(file_.get(), 0, SEEK_END) != 0)
            fail();
    }

    void close()
    {
        if (std::fflush(file_.get()) != 0 || std::ferror(file_.get()))
            fail();
        if (std::fclose(file_.release()) != 0)
            fail();
    }

    [[noreturn]] void fail() const { failWriting(path_, std::strerror(errno)); }
    const std::string& path() const { return path_; }

private:
    void write(const std::uint8_t* data, std::size_t size)
    {
        if (size > 0 && std::fwrite(data, 1, size, file_.get()) != size)
            fail();
    }

    std::string path_;
    File file_;
    long chunkStart_ = 0;
    std::uint32_t chunkCrc_ = 0;
    std::size_t chunkSize_ = 0;
};

// Buffers of bytes that grow without zeroing what they gain: rows are
// written over whole, and of an output buffer sized for the worst case only
// the part the compressor writes is ever touched, so only that part takes
// memory.
template <class T>
struct Uninitialized : std::allocator<T> {
    template <class U>
    struct rebind {
        using other = Uninitialized<U>;
    };
    Uninitialized() = default;
    template <class U>
    Uninitialized(const Uninitialized<U>&) noexcept
    {
    }
    template <class U>
    void construct(U* p) noexcept
    {
        ::new (static_cast<void*>(p)) U;
    }
    template <class U, class... Args>
    void construct(U* p, Args&&... args)
    {
        ::new (static_cast<void*>(p)) U(std::forward<Args>(args)...);
    }
};
using Bytes = std::vector<std::uint8_t, Uninitialized<std::uint8_t>>;

// The sheets of a run are written at once, and each compresses several
// pieces at once; together they compress no more pieces at a time than
// there are processors, which also bounds the memory the pieces take.
std::size_t compressionsAtOnce()
{
    return std::clamp<std::size_t>(std::thread::hardware_concurrency(), 1, 16);
}

// What a buffer holds: a piece's rows, written over whole, or a piece's
// compressed bytes, of which only the first part is touched. Each kind
// returns to its own kind, so the pages of an output buffer stay few.
enum class Use { Rows, Output };

// A compressor takes up to a mebibyte or so to set up, so a finished one
// waits here for the next piece of any sheet, and so do the buffers of rows
// and of compressed output, which any piece may take: their pages, once
// touched, serve every later piece and sheet of the run.
class CompressorPool {
public:
    // Each compression holds one compressor at a time, so no more are kept
    // than compressions run at once: one of another level that waits is
    // freed to make room for a new one.
    explicit CompressorPool(std::size_t limit) : limit_(limit) {}

    Compressor take(const std::string& path, int level)
    {
        Compressor spare;  // freed outside the lock
        {
            const std::lock_guard lock(mutex_);
            std::vector<Compressor>& free = compressors_[level];
            if (!free.empty()) {
                Compressor c = std::move(free.back());
                free.pop_back();
                return c;
            }
            if (alive_ >= limit_)
                for (auto& [other, waiting] : compressors_)
                    if (!waiting.empty()) {
                        spare = std::move(waiting.back());
                        waiting.pop_back();
                        --alive_;
                        break;
                    }
            ++alive_;
        }
        spare.reset();
        Compressor c(libdeflate_alloc_compressor(level));
        if (!c) {
            const std::lock_guard lock(mutex_);
            --alive_;
            failWriting(path, "cannot start the compressor: out of memory");
        }
        return c;
    }

    // A buffer as it was given back, its size and contents left over.
    Bytes takeBuffer(Use use)
    {
        const std::lock_guard lock(mutex_);
        std::vector<Bytes>& free = buffers_[static_cast<int>(use)];
        if (free.empty())
            return {};
        Bytes b = std::move(free.back());
        free.pop_back();
        return b;
    }

    void give(Use use, Bytes buffer)
    {
        if (buffer.capacity() == 0)
            return;
        const std::lock_guard lock(mutex_);
        buffers_[static_cast<int>(use)].push_back(std::move(buffer));
    }

    void give(int level, Compressor c)
    {
        const std::lock_guard lock(mutex_);
        if (alive_ > limit_) {  // more ran at once than the limit, for a moment
            --alive_;
            return;
        }
        compressors_[level].push_back(std::move(c));
    }

private:
    std::mutex mutex_;
    std::size_t limit_, alive_ = 0;
    std::map<int, std::vector<Compressor>> compressors_;
    std::vector<Bytes> buffers_[2];
};

CompressorPool& compressors()
{
    static CompressorPool pool(compressionsAtOnce());
    return pool;
}

class Lease {
public:
    Lease(const std::string& path, int level) : level_(level), compressor_(compressors().take(path, level)) {}
    ~Lease() { compressors().give(level_, std::move(compressor_)); }
    Lease(const Lease&) = delete;
    Lease& operator=(const Lease&) = delete;

    // Compresses `data` into `out`, which it sizes for the worst case, and
    // returns the compressed size.
    std::size_t compress(const std::uint8_t* data, std::size_t size, Bytes& out)
    {
        const std::size_t bound = libdeflate_deflate_compress_bound(compressor_.get(), size);
        if (out.size() < bound)
            out.resize(bound);
        return libdeflate_deflate_compress(compressor_.get(), data, size, out.data(), bound);
    }

private:
    int level_;
    Compressor compressor_;
};

std::counting_semaphore<>& compressionSlots()
{
    static std::counting_semaphore<> slots(static_cast<std::ptrdiff_t>(compressionsAtOnce()));
    return slots;
}

// libdeflate compresses whole buffers into streams that end with a final
// block. To join several into one stream, the last block is made non-final
// and an empty stored block brings the piece to a byte boundary, as a full
// flush would. Reading the piece's blocks finds where the last one starts
// and where the stream ends, and checks the piece on the way.
void makeJoinable(const std::string& path, Bytes& piece, std::size_t rawSize)
{
    const std::optional<DeflateEnds> ends = findDeflateEnds(piece, rawSize);
    if (!ends)
        failWriting(path, "compressed image data does not check out");
    const auto [lastBlockBit, endBit] = *ends;
    piece[lastBlockBit / 8] &= static_cast<std::uint8_t>(~(1u << (lastBlockBit % 8)));
    piece.resize((endBit + 7) / 8);
    if (endBit % 8 != 0)
        piece.back() &= static_cast<std::uint8_t>((1u << (endBit % 8)) - 1);
    // A stored block header is three zero bits; pad to the byte boundary.
    if (endBit % 8 == 0 || endBit % 8 > 5)
        piece.push_back(0);
    piece.insert(piece.end(), {0x00, 0x00, 0xff, 0xff});
}

[[gnu::always_inline]] inline std::uint8_t paethPredictor(std::uint8_t a, std::uint8_t b, std::uint8_t c)
{
    const int pa = std::abs(b - c), pb = std::abs(a - c), pc = std::abs(a + b - 2 * c);
    const std::uint8_t ab = pa <= pb ? a : b;
    return std::min(pa, pb) <= pc ? ab : c;
}

// The byte filter f makes of row[i], given the byte to its left (a), above
// (b) and above left (c).
template <Filter f>
[[gnu::always_inline]] inline std::uint8_t filtered(std::uint8_t x, std::uint8_t a, std::uint8_t b, std::uint8_t c)
{
    if constexpr (f == kNone)
        return x;
    else if constexpr (f == kSub)
        return static_cast<std::uint8_t>(x - a);
    else if constexpr (f == kUp)
        return static_cast<std::uint8_t>(x - b);
    else if constexpr (f == kAverage)
        return static_cast<std::uint8_t>(x - ((a + b) >> 1));
    else
        return static_cast<std::uint8_t>(x - paethPredictor(a, b, c));
}

// Sum of the filtered bytes as signed magnitudes, the usual guess at how
// well a filtered row compresses. Written without branches so that it
// vectorizes.
template <Filter f>
[[gnu::always_inline]] inline std::uint32_t filterCost(
    const std::uint8_t* row, const std::uint8_t* prev, std::size_t n, std::size_t bpp)
{
    std::uint32_t cost = 0;
    for (std::size_t i = 0; i < bpp; ++i)
        cost += static_cast<std::uint32_t>(std::abs(static_cast<std::int8_t>(filtered<f>(row[i], 0, prev[i], 0))));
    for (std::size_t i = bpp; i < n; ++i)
        cost += static_cast<std::uint32_t>(
            std::abs(static_cast<std::int8_t>(filtered<f>(row[i], row[i - bpp], prev[i], prev[i - bpp]))));
    return cost;
}

template <Filter f>
[[gnu::always_inline]] inline void applyFilter(
    const std::uint8_t* row, const std::uint8_t* prev, std::size_t n, std::size_t bpp, std::uint8_t* out)
{
    out[0] = f;
    for (std::size_t i = 0; i < bpp; ++i)
        out[i + 1] = filtered<f>(row[i], 0, prev[i], 0);
    for (std::size_t i = bpp; i < n; ++i)
        out[i + 1] = filtered<f>(row[i], row[i - bpp], prev[i], prev[i - bpp]);
}

// Chooses for each RGBA row the filter with the smallest cost among all
// five, as libpng does by default, and writes the filter byte and the
// filtered row to `out`. Compiled twice, and the wider vectors taken where
// the processor has them: these loops are a good part of a sheet's time.
#if defined(__x86_64__) && defined(__GNUC__)
__attribute__((target_clones("avx2", "default")))
#endif
void filterRow(const std::uint8_t* row, const std::uint8_t* prev, std::size_t n, std::size_t bpp, std::uint8_t* out)
{
    const std::uint32_t cost[5] = {filterCost<kNone>(row, prev, n, bpp), filterCost<kSub>(row, prev, n, bpp),
        filterCost<kUp>(row, prev, n, bpp), filterCost<kAverage>(row, prev, n, bpp),
        filterCost<kPaeth>(row, prev, n, bpp)};
    switch (std::min_element(cost, cost + 5) - cost) {
    case kNone:
        return applyFilter<kNone>(row, prev, n, bpp, out);
    case kSub:
        return applyFilter<kSub>(row, prev, n, bpp, out);
    case kUp:
        return applyFilter<kUp>(row, prev, n, bpp, out);
    case kAverage:
        return applyFilter<kAverage>(row, prev, n, bpp, out);
    default:
        return applyFilter<kPaeth>(row, prev, n, bpp, out);
    }
}

struct Piece {
    Bytes deflated;   // joinable deflate blocks, or the stream's final ones
    uLong adler = 1;  // of the rows it holds
    std::size_t rawSize = 0;
    bool final = false;
};

// Filters chosen row by row suit shaded sprites; flat colours and pixel art
// often compress better unfiltered. A quick compression of both decides,
// over the whole piece: a sample leaves out the rows above that no filter
// matches against, and so misjudges it, and level 1 misses the long matches
// of pixel art. The quick one favours no filter more than level 7 does, so
// it must win by a tenth.
constexpr int kTrialLevel = 2;

// The RGBA rows of a piece, each after its filter byte, as gathered: none.
struct PieceRows {
    Bytes bytes;
    std::vector<std::uint8_t> above;  // the row above the first, as drawn
    const RowComposer* source = nullptr;
    int first = 0;  // the sheet's row that comes first
};

// Leaves `rows` filtered row by row, or as they were gathered where that
// compresses better. The rows are filtered where they lie, bottom up so that
// each row's filter sees the one above as drawn, and `out` serves as the
// trials' output and a row's scratch; rows found better unfiltered are
// composed again, which costs far less than undoing the filters.
void chooseFilters(const std::string& path, PieceRows& piece, std::size_t rowBytes, std::size_t bpp, Bytes& out)
{
    Bytes& rows = piece.bytes;
    const std::uint8_t* above = piece.above.data();
    Lease trial(path, kTrialLevel);
    const std::size_t unfilteredSize = trial.compress(rows.data(), rows.size(), out);
    bool anyFilter = false;
    for (std::size_t at = rows.size(); at > 0;) {
        at -= rowBytes + 1;
        const std::uint8_t* prev = at == 0 ? above : rows.data() + at - rowBytes;
        filterRow(rows.data() + at + 1, prev, rowBytes, bpp, out.data());
        anyFilter = anyFilter || out[0] != kNone;
        std::memcpy(rows.data() + at, out.data(), rowBytes + 1);
    }
    if (!anyFilter)  // every row took no filter
        return;
    const std::size_t filteredSize = trial.compress(rows.data(), rows.size(), out);
    if (unfilteredSize != 0 && unfilteredSize < filteredSize - filteredSize / 10) {
        const std::size_t count = rows.size() / (rowBytes + 1);
        piece.source->compose(piece.first, static_cast<int>(count), rows.data() + 1, rowBytes + 1);
        for (std::size_t at = 0; at < rows.size(); at += rowBytes + 1)
            rows[at] = kNone;
    }
}

// Compresses rows into a piece, joinable unless it is the `last` of the
// stream. With `bpp`, RGBA rows take the filter chosen per row; without,
// they go unfiltered.
Piece compressPiece(
    const std::string& path, PieceRows gathered, std::size_t rowBytes, std::size_t bpp, int level, bool last)
{
    Bytes out = compressors().takeBuffer(Use::Output);
    if (bpp != 0)
        chooseFilters(path, gathered, rowBytes, bpp, out);
    Bytes& rows = gathered.bytes;
    Piece piece;
    piece.rawSize = rows.size();
    piece.adler = libdeflate_adler32(1, rows.data(), rows.size());
    const std::size_t size = Lease(path, level).compress(rows.data(), rows.size(), out);
    compressors().give(Use::Rows, std::move(rows));
    if (size == 0)
        failWriting(path, "cannot compress the image data");
    // The piece waits to be joined in a buffer of its size, and the output
    // buffer goes back at once.
    piece.deflated.reserve(size + 6);  // room for the stored block that makes it joinable
    piece.deflated.assign(out.data(), out.data() + size);
    compressors().give(Use::Output, std::move(out));
    piece.final = last;
    if (!last)
        makeJoinable(path, piece.deflated, piece.rawSize);
    return piece;
}

// The zlib stream of the image data, written into IDAT chunks of about a
// mebibyte as its pieces are joined, so that a sheet does not hold its
// compressed rows in memory. Rows are compressed about a mebibyte at a
// time, a few pieces at once on threads of their own, and joined in order;
// the last piece ends the stream as it is. Runs of empty rows are put in as
// pieces compressed once per sheet for runs of 1, 2, 4, ... rows, up to
// about a mebibyte of rows, so a mostly empty sheet writes at the speed of
// the disk and its bottom costs a few bytes per run instead of per row.
class ImageData {
public:
    // The rows come from `source`. With `bpp`, RGBA rows take the filter
    // chosen per row, on the threads that compress them; without, they go
    // unfiltered.
    ImageData(PngFile& file, const RowComposer& source, std::size_t rowBytes, int level, std::size_t bpp = 0)
        : file_(file), source_(source), rowBytes_(rowBytes), rowsLeft_(static_cast<std::size_t>(source.height())),
          level_(level), bpp_(bpp), above_(rowBytes, 0)
    {
        file_.beginChunk("IDAT");
        const std::uint8_t zlibHeader[2] = {0x78, 0xda};  // deflate, 32 KiB window, best compression
        file_.append(zlibHeader, 2);
        segmentRows_ = std::max<std::size_t>(1, kSegmentBytes / (rowBytes_ + 1));
        std::size_t longest = 1;
        while (longest * 2 * (rowBytes_ + 1) <= kSegmentBytes)
            longest *= 2;
        emptyRuns_.resize(static_cast<std::size_t>(std::countr_zero(longest)) + 1);
        inFlight_ = std::clamp<std::size_t>(std::thread::hardware_concurrency(), 1, 4);
    }

    ~ImageData()
    {
        if (holdsSlot_)
            compressionSlots().release();
    }
    ImageData(const ImageData&) = delete;
    ImageData& operator=(const ImageData&) = delete;

    void content(const std::uint8_t* row)
    {
        putEmptyRows();
        if (pending_.empty()) {
            takeSlot();
            pendingFirst_ = source_.height() - static_cast<int>(rowsLeft_);
            pending_ = compressors().takeBuffer(Use::Rows);
            pending_.clear();
            pending_.reserve(std::min(rowsLeft_, segmentRows_) * (rowBytes_ + 1));
        }
        pending_.push_back(kNone);
        pending_.insert(pending_.end(), row, row + rowBytes_);
        --rowsLeft_;
        if (pending_.size() >= segmentRows_ * (rowBytes_ + 1))
            putPending();
    }

    void empty()
    {
        putPending();
        std::fill(above_.begin(), above_.end(), 0);
        --rowsLeft_;
        if (++pendingEmpty_ == (std::size_t{1} << (emptyRuns_.size() - 1)))
            putEmptyRows();
    }

    void finish()
    {
        putPending();
        putEmptyRows();
        joinAll();
        std::vector<std::uint8_t> tail;
        if (!ended_)
            tail = {0x01, 0x00, 0x00, 0xff, 0xff};  // an empty final stored block
        put32(tail, static_cast<std::uint32_t>(adler_));
        file_.append(tail.data(), tail.size());
        file_.endChunk();
    }

private:
    static constexpr std::size_t kSegmentBytes = std::size_t{1} << 20;

    void putPending()
    {
        if (pending_.empty())
            return;
        const bool last = rowsLeft_ == 0;
        std::vector<std::uint8_t> above = above_;
        std::copy(pending_.end() - static_cast<std::ptrdiff_t>(rowBytes_), pending_.end(), above_.begin());
        // The slot taken for these rows goes with them to their compression.
        std::future<Piece> piece = std::async(
            std::launch::async,
            [&path = file_.path(), level = level_, last, rowBytes = rowBytes_, bpp = bpp_](PieceRows rows) {
                struct Release {
                    ~Release() { compressionSlots().release(); }
                } release;
                return compressPiece(path, std::move(rows), rowBytes, bpp, level, last);
            },
            PieceRows{std::move(pending_), std::move(above), &source_, pendingFirst_});
        holdsSlot_ = false;
        running_.push_back(std::move(piece));
        pending_.clear();
        while (running_.size() > inFlight_)
            joinFirst();
    }

    // Rows are gathered only with a slot for their compression, so that a
    // run holds no more pieces of rows than it compresses at once. The
    // pieces done before and while waiting for it are joined, so that they
    // go to the file instead of waiting in memory. (Waiting for this
    // sheet's oldest piece instead would leave a slot that another sheet's
    // piece frees unused meanwhile.)
    void takeSlot()
    {
        joinDone();
        compressionSlots().acquire();
        holdsSlot_ = true;
        joinDone();
    }

    void joinDone()
    {
        while (!running_.empty() && running_.front().wait_for(std::chrono::seconds(0)) == std::future_status::ready)
            joinFirst();
    }

    void joinFirst()
    {
        Piece piece = running_.front().get();
        running_.pop_front();
        join(piece);
    }

    void joinAll()
    {
        while (!running_.empty())
            joinFirst();
    }

    void join(const Piece& piece)
    {
        file_.append(piece.deflated.data(), piece.deflated.size());
        adler_ = adler32_combine(adler_, piece.adler, static_cast<z_off_t>(piece.rawSize));
        ended_ = piece.final;
        spill();
    }

    // Puts the pending empty rows as runs whose lengths are powers of two.
    void putEmptyRows()
    {
        if (pendingEmpty_ == 0)
            return;
        joinAll();
        for (std::size_t k = emptyRuns_.size(); k-- > 0 && pendingEmpty_ > 0;) {
            const std::size_t rows = std::size_t{1} << k;
            while (pendingEmpty_ >= rows) {
                Piece& run = emptyRuns_[k];
                if (run.deflated.empty()) {
                    Bytes zeros = compressors().takeBuffer(Use::Rows);
                    zeros.assign((rowBytes_ + 1) << k, 0);
                    run = compressPiece(file_.path(), {std::move(zeros), {}, nullptr, 0}, rowBytes_, 0, level_, false);
                }
                join(run);
                pendingEmpty_ -= rows;
            }
        }
    }

    void spill()
    {
        if (file_.chunkSize() >= (1u << 20)) {
            file_.endChunk();
            file_.beginChunk("IDAT");
        }
    }

    PngFile& file_;
    const RowComposer& source_;
    std::size_t rowBytes_, rowsLeft_;
    int level_;
    std::size_t bpp_;
    std::vector<std::uint8_t> above_;  // the row above the pending ones, as it was drawn
    std::size_t segmentRows_ = 1, inFlight_ = 1;
    Bytes pending_;
    int pendingFirst_ = 0;    // the sheet's row that comes first in them
    bool holdsSlot_ = false;  // for the pending rows
    std::deque<std::future<Piece>> running_;
    std::vector<Piece> emptyRuns_;
    std::size_t pendingEmpty_ = 0;
    bool ended_ = false;
    uLong adler_ = 1;
};

}  // namespace

void writePng(const std::string& path, RowComposer& rows, BitDepth depth, const std::vector<Rgba>& palette, int level)
{
    const bool indexed = depth == BitDepth::Indexed8;
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
        // Palette images compress best unfiltered; RGBA rows take the
        // filter chosen per row.
        ImageData data(file, rows, rowBytes, level, indexed ? 0 : bpp);
        for (int y = 0; y < rows.height(); ++y) {
            const std::uint8_t* row = rows.row(y);
            if (rows.rowIsEmpty())
                data.empty();
            else
                data.content(row);
        }
        data.finish();
    }
    file.chunk("IEND", nullptr, 0);
    file.close();
}

}  // namespace vintrix
