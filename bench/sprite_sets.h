#pragma once
// Seeded sets of sprites written as real PNG files, for the benchmark.

#include <cstdint>
#include <string>
#include <vector>

#include "maxrects.h"

namespace vintrix::bench {

struct SetSpec {
    std::string name;
    std::string description;
    int count = 0;
    vintrix::Size sheet;
    std::uint32_t seed = 0;
};

// The sizes of a set, drawn from its seed.
std::vector<vintrix::Size> spriteSizes(const SetSpec& sample);

// Writes one PNG per size into `folder` (which must exist), named so that
// their sorted order is their index order. Style "I" draws flat-colour
// icons, "P" pixel art; any other shaded sprites.
void writeSprites(const std::string& folder, const std::vector<vintrix::Size>& sizes, std::uint32_t seed,
    const std::string& style = "");

// Animation frames: `characters` figures of `frames` frames each, every
// frame on a canvas of the same size with wide transparent borders around
// the figure, which walks, bobs and swings its limbs. The first frames of
// every other figure repeat one pose at another height, so that they are
// identical once trimmed.
struct AnimationSet {
    std::string name;
    std::string description;
    int characters = 0, frames = 0;
    vintrix::Size canvas, sheet;
    std::uint32_t seed = 0;
};

void writeAnimationFrames(const std::string& folder, const AnimationSet& set);

}  // namespace vintrix::bench
