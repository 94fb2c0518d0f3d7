// File names from a folder, any bytes but "/" and NUL, through the atlas
// data. Vintrix refuses names that are not UTF-8, so only those reach the
// writer: the text is always valid JSON, and every name comes back as the
// key of its own frame.
#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <vector>

#include <QJsonDocument>
#include <QJsonObject>
#include <QString>

#include "fuzz_check.h"
#include "atlas_json.h"
#include "utf8.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using namespace vintrix;
    using fuzz::check;
    if (size > 8192)
        return 0;
    std::set<std::string> unique;
    for (const std::string& name : fuzz::split(data, size, std::string_view("/\0", 2)))
        if (!name.empty() && isUtf8(name))
            unique.insert(name);
    std::vector<AtlasFrame> frames;
    int k = 0;
    for (const std::string& n : unique)
        frames.push_back({n, k, k + 1, k + 2, k + 3}), ++k;
    AtlasMeta meta{"1.0.0", unique.empty() ? "s.png" : *unique.begin(), "RGBA8888", 64, 64,
        std::vector<std::string>(unique.begin(), unique.end())};

    QJsonParseError error;
    const QJsonDocument doc = QJsonDocument::fromJson(QByteArray::fromStdString(atlasJson(frames, meta)), &error);
    check(error.error == QJsonParseError::NoError);
    // By iteration: QJsonObject's lookup by key misses some keys beyond the
    // Basic Multilingual Plane (Qt 6.4) that iteration finds.
    std::map<QString, QJsonObject> out;
    const QJsonObject all = doc.object()["frames"].toObject();
    for (auto it = all.begin(); it != all.end(); ++it)
        out[it.key()] = it.value().toObject()["frame"].toObject();
    check(out.size() == frames.size());
    for (const AtlasFrame& f : frames) {
        const auto found = out.find(QString::fromStdString(f.name));
        check(found != out.end());
        check(found->second["x"].toInt(-1) == f.x && found->second["h"].toInt(-1) == f.h);
    }
    return 0;
}
