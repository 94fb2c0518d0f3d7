#include "images.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <map>
#include <mutex>
#include <set>
#include <string_view>
#include <thread>
#include <tuple>

#include <QFile>
#include <QImageReader>

namespace vintrix {
namespace {

std::string lower(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return s;
}

const std::set<std::string>& knownExtensions() {
    static const std::set<std::string> known = [] {
        std::set<std::string> wanted{"png", "bmp", "jpg", "jpeg", "gif", "webp", "tga", "tif", "tiff"};
        std::set<std::string> readable;
        for (const QByteArray& f : QImageReader::supportedImageFormats())
            readable.insert(lower(f.toStdString()));
        std::set<std::string> both;
        for (const std::string& e : wanted)
            if (readable.count(e))
                both.insert(e);
        return both;
    }();
    return known;
}

std::string sizeText(int w, int h) { return std::to_string(w) + "x" + std::to_string(h); }

std::string tooLargeMessage(const std::string& name, int w, int h, Size sheet, int margin) {
    std::string m = name + ": image of " + sizeText(w, h) + " pixels does not fit on a " +
                    sizeText(sheet.w, sheet.h) + " sheet";
    if (margin > 0)
        m += " with a margin of " + std::to_string(margin);
    return m;
}

std::string decodeOne(const QString& path, const std::string& name, Size sheet, int margin, QImage& out) {
    QImageReader reader(path);
    const QSize announced = reader.size();
    if (announced.isValid()) {
        if (!fitsSheet({announced.width(), announced.height()}, sheet, margin))
            return tooLargeMessage(name, announced.width(), announced.height(), sheet, margin);
        if (std::int64_t{announced.width()} * announced.height() > kMaxImagePixels)
            return name + ": image claims " + sizeText(announced.width(), announced.height()) +
                   " pixels, more than Vintrix decodes (" + std::to_string(kMaxImagePixels) + " pixels)";
    }
    QImage image = reader.read();
    if (image.isNull())
        return name + ": cannot decode image: " + reader.errorString().toStdString();
    if (!fitsSheet({image.width(), image.height()}, sheet, margin))
        return tooLargeMessage(name, image.width(), image.height(), sheet, margin);
    out = image.convertToFormat(QImage::Format_RGBA8888);
    if (out.isNull())
        return name + ": out of memory converting the image";
    return {};
}

}  // namespace

std::vector<std::string> listImageFiles(const std::string& folder) {
    namespace fs = std::filesystem;
    std::vector<std::string> names;
    for (const fs::directory_entry& entry : fs::directory_iterator(folder)) {
        std::error_code ec;
        if (!entry.is_regular_file(ec))
            continue;
        const std::string ext = entry.path().extension().string();
        if (ext.size() < 2 || !knownExtensions().count(lower(ext.substr(1))))
            continue;
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

DecodeResult decodeImages(const std::string& folder, const std::vector<std::string>& names, Size sheet, int margin,
                          int threads, const ProgressFn& progress) {
    DecodeResult result;
    result.images.resize(names.size());
    std::vector<std::string> errors(names.size());
    const QString base = QFile::decodeName(QByteArray::fromStdString(folder));

    std::atomic<std::size_t> next{0};
    std::size_t done = 0;
    std::mutex mutex;
    std::condition_variable finished;
    auto worker = [&] {
        for (std::size_t i; (i = next.fetch_add(1)) < names.size();) {
            const QString path = base + '/' + QFile::decodeName(QByteArray::fromStdString(names[i]));
            errors[i] = decodeOne(path, names[i], sheet, margin, result.images[i]);
            std::lock_guard lock(mutex);
            if (++done == names.size())
                finished.notify_one();
        }
    };
    {
        std::vector<std::jthread> pool;
        for (int t = 1; t < std::max(1, threads); ++t)
            pool.emplace_back(worker);
        if (progress) {
            // This thread reports progress while the others decode, and
            // wakes as soon as the last image is done.
            pool.emplace_back(worker);
            std::unique_lock lock(mutex);
            while (!finished.wait_for(lock, std::chrono::milliseconds(100), [&] { return done == names.size(); })) {
                const std::size_t now = done;
                lock.unlock();
                progress(now, names.size());
                lock.lock();
            }
            lock.unlock();
            progress(names.size(), names.size());
        } else {
            worker();
        }
    }
    for (std::string& e : errors)
        if (!e.empty())
            result.errors.push_back(std::move(e));
    return result;
}

UniqueImages findDuplicates(const std::vector<QImage>& images) {
    UniqueImages u;
    u.uniqueOf.resize(images.size());
    std::map<std::tuple<int, int, std::size_t>, std::vector<std::size_t>> seen;  // -> unique indices
    for (std::size_t i = 0; i < images.size(); ++i) {
        const QImage& img = images[i];
        const std::string_view bytes(reinterpret_cast<const char*>(img.constBits()),
                                     static_cast<std::size_t>(img.sizeInBytes()));
        auto& candidates = seen[{img.width(), img.height(), std::hash<std::string_view>{}(bytes)}];
        auto same = std::find_if(candidates.begin(), candidates.end(), [&](std::size_t k) {
            const QImage& other = images[u.first[k]];
            return std::string_view(reinterpret_cast<const char*>(other.constBits()),
                                    static_cast<std::size_t>(other.sizeInBytes())) == bytes;
        });
        if (same != candidates.end()) {
            u.uniqueOf[i] = *same;
        } else {
            u.uniqueOf[i] = u.first.size();
            candidates.push_back(u.first.size());
            u.first.push_back(i);
        }
    }
    return u;
}

}  // namespace vintrix
