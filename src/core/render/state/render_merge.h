// The parts of a render split into shards (RenderEngine's shard and shards settings), put back
// together into the state of the whole render.
//
// Shard I of K ran the streams k with k % K == I, each exactly as the whole render runs it
// (the same shares per round, cut at the same developments), so every stream record of the
// merged state is the whole render's. The buffers were filled by one shard's points each, and
// are combined in shard order (part 0, then part 1, ...) whatever order the parts are given
// in:
//   - sums (the densities, the Light family's colours, the light maps' densities): added in
//     shard order, in float. The whole render adds the same points in its round order
//     (stream 0's block, stream 1's, ... per round), so a sum may differ in its last bits;
//     except Gas's fixed-point sums ("density.fixed"), added as the integers they are, which
//     give the whole render's exactly (its density follows from them when it is resumed).
//   - surfaces and depths ("surface", "depth", "<light>.depth"): the nearest of the parts at
//     each pixel. Where a mode's points depend on the surface in front of them (Liquid's and
//     Plasma's coverage), a shard counted the points that another shard's surface would have
//     hidden; the merged image approximates the whole render there.
// Everything else (scene, settings, derived values, buffer names and sizes) must agree.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "core/render/state/render_state.h"

namespace qm {

// The part's shard index and count: (0, 1) for a whole render's state, none when its shard
// settings are broken.
struct ShardOf {
    std::int32_t shard = 0;
    std::int32_t shards = 1;
};
std::optional<ShardOf> shardOf(const RenderState& part);

// Merges parts (any order) into `merged`, the state of the whole render as the shards left it;
// the parts' buffers are consumed. On refusal, a sentence naming what differs or is missing
// (parts named by names[i]), and `merged` unspecified.
std::optional<std::string> mergeRenderParts(std::vector<RenderState>& parts,
                                            const std::vector<std::string>& names,
                                            RenderState& merged);

// The same in steps, for parts too large to hold together: checkRenderParts on the parts
// without their buffers' floats (sizes[i]: part i's buffer sizes, as bufferSizes gives them)
// finds each shard's part (byShard[s]: the index of shard s's part), then addRenderPart takes
// the parts in shard order, 0 first, each consumed.
std::vector<std::size_t> bufferSizes(const RenderState& part);
std::optional<std::string> checkRenderParts(const std::vector<RenderState>& parts,
                                            const std::vector<std::vector<std::size_t>>& sizes,
                                            const std::vector<std::string>& names,
                                            std::vector<std::int32_t>& byShard);
void addRenderPart(RenderState& merged, RenderState&& part, std::int32_t shard,
                   std::int32_t shards);

// Whether a buffer of this name holds a surface or a depth (merged by the nearest value)
// rather than a sum.
bool isNearestBuffer(std::string_view name);

}  // namespace qm
