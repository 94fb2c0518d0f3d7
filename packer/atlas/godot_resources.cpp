#include "godot_resources.h"

#include <algorithm>
#include <map>

#include "error.h"
#include "utf8.h"

namespace vintrix {
namespace {

// The frame's file inside NAME/, without ".tres".
std::string key(const std::string& frame, AnimationNaming naming)
{
    return naming.extensions ? withoutExtension(frame) : frame;
}

// A string in Godot's text format.
std::string godotString(const std::string& text)
{
    std::string out = "\"";
    for (const char c : text) {
        if (c == '"' || c == '\\')
            out += '\\';
        out += c;
    }
    return out + "\"";
}

std::string rect2(int x, int y, int w, int h)
{
    return "Rect2(" + std::to_string(x) + ", " + std::to_string(y) + ", " + std::to_string(w) + ", " +
        std::to_string(h) + ")";
}

std::string atlasTexture(const AtlasFrame& f, const std::string& sheetPath)
{
    std::string out = "[gd_resource type=\"AtlasTexture\" load_steps=2 format=3]\n\n";
    out += "[ext_resource type=\"Texture2D\" path=" + godotString(sheetPath) + " id=\"1\"]\n\n";
    out += "[resource]\natlas = ExtResource(\"1\")\n";
    out += "region = " + rect2(f.x, f.y, f.w, f.h) + "\n";
    // The transparent borders trimming cut off, so that the texture keeps
    // the original's size and the sprite its place in it.
    if (f.trimmed)
        out += "margin = " + rect2(f.sourceX, f.sourceY, f.sourceW - f.w, f.sourceH - f.h) + "\n";
    return out + "filter_clip = true\n";
}

std::string spriteFrames(const AtlasInput& input)
{
    std::map<std::string, int> ids;  // of each frame's texture
    std::string resources;
    for (const Animation& a : input.animations)
        for (const std::string& frame : a.frames)
            if (ids.emplace(frame, static_cast<int>(ids.size()) + 1).second)
                resources += "[ext_resource type=\"Texture2D\" path=" +
                    godotString(input.name + "/" + key(frame, input.naming) + ".tres") + " id=\"" +
                    std::to_string(ids[frame]) + "\"]\n";
    std::string out = "[gd_resource type=\"SpriteFrames\" load_steps=" + std::to_string(ids.size() + 1) +
        " format=3]\n\n" + resources + (resources.empty() ? "" : "\n") + "[resource]\nanimations = [";
    for (std::size_t i = 0; i < input.animations.size(); ++i) {
        const Animation& a = input.animations[i];
        out += std::string(i ? ", " : "") + "{\n\"frames\": [";
        for (std::size_t k = 0; k < a.frames.size(); ++k)
            out += std::string(k ? ", " : "") + "{\n\"duration\": 1.0,\n\"texture\": ExtResource(\"" +
                std::to_string(ids[a.frames[k]]) + "\")\n}";
        out += "],\n\"loop\": true,\n\"name\": &" + godotString(a.name) + ",\n\"speed\": 10.0\n}";
    }
    return out + "]\n";
}

}  // namespace

std::vector<std::string> godotFiles(const AtlasInput& input)
{
    std::vector<std::string> files;
    for (const AtlasSheet& sheet : input.sheets)
        for (const AtlasFrame& f : sheet.frames)
            files.push_back(input.name + "/" + key(f.name, input.naming) + ".tres");
    if (input.naming.group)
        files.push_back(input.name + ".tres");
    return files;
}

std::vector<std::string> godotData(const AtlasInput& input)
{
    std::vector<std::string> texts;
    for (const AtlasSheet& sheet : input.sheets)
        for (const AtlasFrame& f : sheet.frames) {
            // From the frame's file, NAME/ and the folders of its name, back up to the sheet.
            const std::string k = key(f.name, input.naming);
            std::string up = "../";
            for (const char c : k)
                if (c == '/')
                    up += "../";
            texts.push_back(atlasTexture(f, up + sheet.meta.image));
        }
    if (input.naming.group)
        texts.push_back(spriteFrames(input));
    return texts;
}

void checkGodotNames(const std::string& name, const std::vector<std::string>& frames, AnimationNaming naming)
{
    std::map<std::string, const std::string*> files;
    for (const std::string& frame : frames) {
        if (std::any_of(frame.begin(), frame.end(), [](char c) { return static_cast<unsigned char>(c) < 0x20; }))
            throw InputError("Godot's resources cannot name " + quoted(frame) +
                ": a resource's path cannot hold a control character, so rename the file");
        if (const auto [it, added] = files.emplace(name + "/" + key(frame, naming) + ".tres", &frame); !added)
            throw InputError(quoted(*it->second) + " and " + quoted(frame) + " would both be the Godot resource " +
                quoted(it->first) + ": rename one of them");
    }
}

}  // namespace vintrix
