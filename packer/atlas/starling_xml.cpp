#include "starling_xml.h"

#include <algorithm>

#include "error.h"
#include "markup.h"
#include "utf8.h"

namespace vintrix {
namespace {

// `text` in double quotes as an attribute's value.
std::string attribute(const std::string& text)
{
    return '"' + markupText(text) + '"';
}

std::string number(const char* attributeName, int value)
{
    return std::string(" ") + attributeName + "=\"" + std::to_string(value) + "\"";
}

}  // namespace

std::vector<std::string> starlingData(const AtlasInput& input)
{
    std::vector<std::string> texts;
    for (const AtlasSheet& sheet : input.sheets) {
        std::string out = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
        out += "<TextureAtlas imagePath=" + attribute(sheet.meta.image) + ">\n";
        for (const AtlasFrame& f : sheet.frames) {
            // The region as it is on the sheet, turned when rotated; the
            // frame in the original image's own orientation.
            out += "\t<SubTexture name=" + attribute(f.name) + number("x", f.x) + number("y", f.y) +
                number("width", f.rotated ? f.h : f.w) + number("height", f.rotated ? f.w : f.h);
            if (f.trimmed)
                out += number("frameX", -f.sourceX) + number("frameY", -f.sourceY) + number("frameWidth", f.sourceW) +
                    number("frameHeight", f.sourceH);
            if (f.rotated)
                out += " rotated=\"true\"";
            // In pixels of the original image, from its top left.
            if (f.pivot)
                out += " pivotX=\"" + decimal(f.pivot->x * f.sourceW) + "\" pivotY=\"" +
                    decimal(f.pivot->y * f.sourceH) + "\"";
            out += "/>\n";
        }
        texts.push_back(out + "</TextureAtlas>\n");
    }
    return texts;
}

void checkStarlingNames(const std::string&, const std::vector<std::string>& frames, AnimationNaming)
{
    for (const std::string& frame : frames) {
        const bool control = std::any_of(frame.begin(), frame.end(),
            [](char c) { return static_cast<unsigned char>(c) < 0x20 && c != '\t' && c != '\n' && c != '\r'; });
        const bool nonCharacter =
            frame.find("\xEF\xBF\xBE") != std::string::npos || frame.find("\xEF\xBF\xBF") != std::string::npos;
        const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; };
        if (control || nonCharacter || (!frame.empty() && (blank(frame.front()) || blank(frame.back()))))
            throw InputError("the Starling XML cannot name " + quoted(frame) +
                ": XML cannot hold a control character, U+FFFE or U+FFFF, and Starling drops blanks at the ends of a "
                "name, so rename the file");
    }
}

}  // namespace vintrix
