#include "images.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "error.h"
#include "file.h"
#include "png_reader.h"
#include "qt_module.h"
#include "tga_reader.h"
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
    // The largest image the budget could ever admit.
    std::int64_t maxPixels() const
    {
        return static_cast<std::int64_t>(std::min<std::uint64_t>(kMaxImagePixels, budget_.limit() / 4));
    }

private:
    Size sheet_;
    int margin_;
    MemoryBudget& budget_;
    std::uint64_t taken_ = 0;
    bool kept_ = false;
};

struct QtRead : VintrixQtRead {
    Admission* admit = nullptr;
    Image* out = nullptr;
};

// The module's C interface carries no exceptions: its callbacks catch them
// into its error buffer, which becomes an InputError here.
void readWithQt(int fd, Admission& admit, Image& out)
{
    const QtModule& m = qtModule();
    if (!m.read)
        throw InputError("cannot decode image: the reader for formats other than PNG is missing (" + m.error + ")");
    QtRead read{};
    read.admit = &admit;
    read.out = &out;
    read.announced = [](VintrixQtRead* r, int w, int h) {
        try {
            (*static_cast<QtRead*>(r)->admit)(w, h);
            return 1;
        } catch (const std::exception& e) {
            std::snprintf(r->error, sizeof r->error, "%s", e.what());
            return 0;
        }
    };
    read.pixels = [](VintrixQtRead* r, int w, int h) -> unsigned char* {
        Image& image = *static_cast<QtRead*>(r)->out;
        try {
            image.width = w;
            image.height = h;
            image.pixels.resize(image.bytesPerLine() * static_cast<std::size_t>(h));
            return image.pixels.data();
        } catch (const std::bad_alloc&) {
            return nullptr;
        }
    };
    // Qt allocates before it reports the size of some files.
    if (m.read(fd, admit.maxPixels(), &read) != 0)
        throw InputError(read.error);
}

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

// PNG files, known by their signature whatever their name, go to libpng;
// TGA files, which have no signature, by their name to stb_image;
// everything else to Qt.
void decodeFile(const std::string& path, Admission& admit, Image& out)
{
    UniqueFd opened = openRegular(path);
    File file(::fdopen(opened.get(), "rb"));
    if (!file)
        throw InputError(std::string("cannot decode image: ") + std::strerror(errno));
    const int fd = opened.release();  // closed with `file`
    std::setvbuf(file.get(), nullptr, _IOFBF, 1 << 16);
    unsigned char head[8];
    const std::size_t got = std::fread(head, 1, sizeof head, file.get());
    if (hasPngSignature(head, got))
        return readPng(file.get(), std::ref(admit), out);
    if (::lseek(fd, 0, SEEK_SET) != 0)
        throw InputError(std::string("cannot decode image: ") + std::strerror(errno));
    if (extensionOf(path) == "tga")
        return readTga(fd, std::ref(admit), out);
    readWithQt(fd, admit, out);
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
        error = e.what();
    } catch (const std::bad_alloc&) {
        error = "cannot decode image: out of memory";
    }
    out = {};
    return quoted(name) + ": " + error;
}

}  // namespace

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
