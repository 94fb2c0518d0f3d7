#include "images.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string_view>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "error.h"
#include "file.h"
#include "decoders.h"
#include "utf8.h"
#include "workers.h"

namespace vintrix {
namespace {

std::string sizeText(int w, int h)
{
    return std::to_string(w) + "x" + std::to_string(h);
}

// Throws InputError when an image of w x h pixels cannot be used.
void checkSize(int w, int h, Size sheet, int margin)
{
    if (w <= 0 || h <= 0)
        throw InputError("cannot decode image: it has no pixels (" + sizeText(w, h) + ")");
    if (!fitsSheet({w, h}, sheet, margin)) {
        std::string m =
            "image of " + sizeText(w, h) + " pixels does not fit on a " + sizeText(sheet.w, sheet.h) + " sheet";
        if (margin > 0)
            m += " with a margin of " + std::to_string(margin);
        throw InputError(m);
    }
    if (std::int64_t{w} * h > kMaxImagePixels)
        throw InputError("image claims " + sizeText(w, h) + " pixels, more than Vintrix decodes (" +
            std::to_string(kMaxImagePixels) + " pixels)");
}

// What the decoded images of one run have taken so far, against the budget.
class MemoryBudget {
public:
    explicit MemoryBudget(std::uint64_t limit) : limit_(limit) {}
    bool take(std::uint64_t bytes)
    {
        std::uint64_t used = used_.load();
        do {
            if (bytes > limit_ - used)
                return false;
        } while (!used_.compare_exchange_weak(used, used + bytes));
        return true;
    }
    void give(std::uint64_t bytes) { used_ -= bytes; }
    std::uint64_t limit() const { return limit_; }

private:
    const std::uint64_t limit_;
    std::atomic<std::uint64_t> used_{0};
};

std::string mebibytes(std::uint64_t bytes)
{
    return std::to_string((bytes + (1u << 20) - 1) >> 20) + " MiB";
}

// The size checks of one image and its share of the budget, taken before
// its pixels are allocated and given back when it fails.
class Admission {
public:
    Admission(Size sheet, int margin, MemoryBudget& budget) : sheet_(sheet), margin_(margin), budget_(budget) {}
    ~Admission()
    {
        if (!kept_)
            budget_.give(taken_);
    }
    Admission(const Admission&) = delete;
    Admission& operator=(const Admission&) = delete;

    // Throws InputError when the image cannot be admitted.
    void operator()(int w, int h)
    {
        checkSize(w, h, sheet_, margin_);
        const std::uint64_t bytes = std::uint64_t(w) * std::uint64_t(h) * 4;
        if (bytes <= taken_)
            return;
        if (!budget_.take(bytes - taken_))
            throw InputError("decoding its " + sizeText(w, h) + " pixels (" + mebibytes(bytes) +
                ") would take the decoded images past Vintrix's memory budget of " + mebibytes(budget_.limit()) +
                " (set " + kImageMemoryVariable + " to change it)");
        taken_ = bytes;
    }
    void keep() { kept_ = true; }

private:
    Size sheet_;
    int margin_;
    MemoryBudget& budget_;
    std::uint64_t taken_ = 0;
    bool kept_ = false;
};

// Opens `path` for reading only if it is a regular file: a FIFO or a device
// put in place of an image is refused without blocking on it.
UniqueFd openRegular(const std::string& path)
{
    UniqueFd fd(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    if (!fd)
        throw InputError(std::string("cannot decode image: ") + std::strerror(errno));
    struct stat st {};
    if (::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode))
        throw InputError("cannot decode image: not a regular file");
    const int flags = ::fcntl(fd.get(), F_GETFL);
    if (flags < 0 || ::fcntl(fd.get(), F_SETFL, flags & ~O_NONBLOCK) != 0)
        throw InputError(std::string("cannot decode image: ") + std::strerror(errno));
    return fd;
}

// The file's first bytes pick its decoder, or for a format without a
// signature its extension.
void decodeFile(const std::string& path, Admission& admit, Image& out)
{
    const UniqueFd fd = openRegular(path);
    unsigned char head[kSignatureBytes];
    ssize_t got;
    while ((got = ::pread(fd.get(), head, sizeof head, 0)) < 0 && errno == EINTR) {}
    if (got < 0)
        throw InputError(std::string("cannot decode image: ") + std::strerror(errno));
    const Decoder* decoder = decoderFor({head, static_cast<std::size_t>(got)}, extensionOf(path));
    if (!decoder)
        throw InputError("cannot decode image: not a " + decoderNames("or") + " file");
    decoder->read(fd.get(), std::ref(admit), out);
}

// Returns the image's failure as a line that starts with its quoted name,
// or an empty string.
std::string decodeOne(
    const std::string& path, const std::string& name, Size sheet, int margin, MemoryBudget& budget, Image& out)
{
    std::string error;
    try {
        Admission admit(sheet, margin, budget);
        decodeFile(path, admit, out);
        admit.keep();
        return {};
    } catch (const Error& e) {
        error = oneLine(e.what());  // libtiff's messages, for one, span lines
    } catch (const std::bad_alloc&) {
        error = "cannot decode image: out of memory";
    }
    out = {};
    return quoted(name) + ": " + error;
}

}  // namespace

std::size_t pixelHash(const Image& image)
{
    return std::hash<std::string_view>{}(
        std::string_view(reinterpret_cast<const char*>(image.pixels.data()), image.pixels.size()));
}

DecodeResult decodeImages(const std::string& folder, const std::vector<std::string>& names, Size sheet, int margin,
    int threads, const ProgressFn& progress, Hashes hashes, std::uint64_t memory)
{
    DecodeResult result;
    MemoryBudget budget(memory);
    result.images.resize(names.size());
    if (hashes == Hashes::Compute)
        result.hashes.resize(names.size());
    std::vector<std::string> errors(names.size());

    auto decode = [&](std::size_t i) {
        errors[i] = decodeOne(folder + '/' + names[i], names[i], sheet, margin, budget, result.images[i]);
        if (hashes == Hashes::Compute)
            result.hashes[i] = pixelHash(result.images[i]);
    };
    // With progress, this thread reports it while the others decode.
    std::function<void(std::size_t)> report;
    if (progress)
        report = [&](std::size_t done) { progress(done, names.size()); };
    forEachIndex(names.size(), threads, decode, report);
    std::string failures;
    for (const std::string& e : errors)
        if (!e.empty())
            failures += (failures.empty() ? "" : "\n") + e;
    if (!failures.empty())
        throw InputError(failures);
    return result;
}

}  // namespace vintrix
