#include "css_sprites.h"

#include <cstdio>
#include <map>

#include "error.h"
#include "markup.h"
#include "utf8.h"

namespace vintrix {
namespace {

// HTML splits a class attribute at these.
bool isHtmlBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\f' || c == '\r';
}

std::string withDashes(std::string text)
{
    for (char& c : text)
        if (c == '/' || isHtmlBlank(c))
            c = '-';
    return text;
}

bool isPlain(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' || c == '-';
}

std::string hexEscape(unsigned codePoint)
{
    char buf[16];
    std::snprintf(buf, sizeof buf, "\\%x ", codePoint);
    return buf;
}

// A class as a selector: every character but letters, digits, "_" and "-"
// escaped, and a digit where an identifier cannot start with one.
std::string selector(const std::string& cls)
{
    std::string out = ".";
    for (std::size_t i = 0; i < cls.size();) {
        const unsigned char c = static_cast<unsigned char>(cls[i]);
        const bool digit = c >= '0' && c <= '9';
        if (digit && (i == 0 || (i == 1 && cls[0] == '-'))) {
            out += hexEscape(c);
            ++i;
        } else if (cls == "-") {
            out += "\\-";
            ++i;
        } else if (isPlain(static_cast<char>(c))) {
            out += static_cast<char>(c);
            ++i;
        } else if (c >= 0x80) {
            const std::size_t n = utf8Length(std::string_view(cls).substr(i));
            if (n == 0) {  // not UTF-8, which Vintrix refuses before
                out += hexEscape(0xFFFD);
                ++i;
                continue;
            }
            unsigned cp = n == 2 ? c & 0x1F : n == 3 ? c & 0x0F : c & 0x07;
            for (std::size_t k = 1; k < n; ++k)
                cp = (cp << 6) | (static_cast<unsigned char>(cls[i + k]) & 0x3F);
            out += hexEscape(cp);
            i += n;
        } else if (c < 0x20 || c == 0x7F) {
            out += hexEscape(c);
            ++i;
        } else {
            out += '\\';
            out += static_cast<char>(c);
            ++i;
        }
    }
    return out;
}

// A file name in a URL: every byte but letters, digits and "-._~" as %XX.
std::string urlPath(const std::string& file)
{
    std::string out;
    for (const char ch : file) {
        const unsigned char c = static_cast<unsigned char>(ch);
        if (isPlain(ch) || c == '.' || c == '~') {
            out += ch;
        } else {
            char buf[4];
            std::snprintf(buf, sizeof buf, "%%%02X", c);
            out += buf;
        }
    }
    return out;
}

std::string px(int value)
{
    return value == 0 ? "0" : std::to_string(value) + "px";
}

}  // namespace

std::string cssClass(const std::string& name, const std::string& frame, AnimationNaming naming)
{
    return withDashes(name) + "-" + withDashes(naming.extensions ? withoutExtension(frame) : frame);
}

std::vector<std::string> cssData(const AtlasInput& input)
{
    const std::string shared = withDashes(input.name);
    std::string css = "/* <span class=\"" + shared + " " + shared + "-KEY\"></span> shows the frame KEY; " +
        input.name + ".html shows them all. */\n";
    css += selector(shared) + " {\n\tdisplay: inline-block;\n}\n";
    std::string page = "<!DOCTYPE html>\n<html>\n<head>\n<meta charset=\"utf-8\">\n<title>" + markupText(input.name) +
        "</title>\n<link rel=\"stylesheet\" href=\"" + urlPath(input.name) +
        ".css\">\n<style>body { background: #ccc; } span { margin: 4px; outline: 1px dotted #888; }</style>\n"
        "</head>\n<body>\n";
    for (const AtlasSheet& sheet : input.sheets)
        for (const AtlasFrame& f : sheet.frames) {
            const std::string cls = cssClass(input.name, f.name, input.naming);
            css += selector(cls) + " {\n\twidth: " + px(f.w) + ";\n\theight: " + px(f.h) + ";\n\tbackground: url(\"" +
                urlPath(sheet.meta.image) + "\") no-repeat " + px(-f.x) + " " + px(-f.y) + ";\n}\n";
            page +=
                "<span class=\"" + markupText(shared + " " + cls) + "\" title=\"" + markupText(f.name) + "\"></span>\n";
        }
    return {page + "</body>\n</html>\n", css};
}

void checkCssNames(const std::string& name, const std::vector<std::string>& frames, AnimationNaming naming)
{
    std::map<std::string, const std::string*> classes;
    for (const std::string& frame : frames)
        if (const auto [it, added] = classes.emplace(cssClass(name, frame, naming), &frame); !added)
            throw InputError(quoted(*it->second) + " and " + quoted(frame) + " would both be the CSS class " +
                quoted(it->first) + ": rename one of them");
}

}  // namespace vintrix
