#include "atlas_data.h"
#include "atlas_json.h"

#include <QJsonDocument>
#include <QJsonObject>

#include <gtest/gtest.h>

using namespace vintrix;

namespace {

QJsonObject parse(const std::string& text)
{
    QJsonParseError error;
    const QJsonDocument doc = QJsonDocument::fromJson(QByteArray::fromStdString(text), &error);
    EXPECT_EQ(error.error, QJsonParseError::NoError) << error.errorString().toStdString() << "\n" << text;
    return doc.object();
}

}  // namespace

class JsonStringRoundTrip : public ::testing::TestWithParam<std::string> {};

TEST_P(JsonStringRoundTrip, ReadsBackAsTheSameText)
{
    const std::string& name = GetParam();
    const QJsonObject o = parse("{\"k\": " + jsonString(name) + "}");
    EXPECT_EQ(o.value("k").toString().toStdString(), name);
}

// Other UTF-8 names, control characters included, are atlas_json_fuzz's.
INSTANTIATE_TEST_SUITE_P(Names, JsonStringRoundTrip, ::testing::Values(std::string("nul\0byte", 8), "/*/", ""));

TEST(JsonString, ReplacesBytesThatAreNotUtf8)
{
    const QJsonObject o = parse("{\"k\": " + jsonString("a\xff\x62\xc3(\xed\xa0\x80.png") + "}");
    EXPECT_EQ(o.value("k").toString(), QString::fromUtf8("a\uFFFDb\uFFFD(\uFFFD\uFFFD\uFFFD.png"));
}

// The frames in their order, the image, its format and size, the scale and
// the related packs are read back by the packer tests from the real
// program's data.
TEST(AtlasJson, NamesTheProgramAndItsVersion)
{
    const QJsonObject meta = parse(atlasJson({}, {"1.2.3", "sheet.png", "RGBA8888", 64, 32, {}}))["meta"].toObject();
    EXPECT_EQ(meta["app"].toString(), "Vintrix");
    EXPECT_EQ(meta["version"].toString(), "1.2.3");
}

class NaturalOrder : public ::testing::TestWithParam<std::pair<std::string, std::string>> {};

TEST_P(NaturalOrder, ComparesRunsOfDigitsAsNumbersAndIsATotalOrder)
{
    const auto [before, after] = GetParam();
    EXPECT_TRUE(naturalLess(before, after));
    EXPECT_FALSE(naturalLess(after, before));
}

const std::pair<std::string, std::string> kNaturalOrder[] = {{"walk_2.png", "walk_10.png"}, {"walk_9", "walk_010"},
    {"walk_02", "walk_2"}, {"walk", "walk_1"}, {"a99z", "b1"}, {"sub/x2", "sub/x12"},
    {"x18446744073709551616", "x18446744073709551617"}};

INSTANTIATE_TEST_SUITE_P(Names, NaturalOrder, ::testing::ValuesIn(kNaturalOrder));
