// The undo history of a document: the snapshots of its scene after each step the user took,
// with a current position. Undo and redo move the position; a new step after an undo drops
// the steps that could have been redone; consecutive steps of one gesture (the events of a
// drag, the keys of a typed value, a burst of wheel turns) merge into one.
//
//   SceneHistory h;
//   h.reset(snapshotOfTheDocument);              // the state the history starts from
//   h.record(HistoryStep::Search, 0, snapshot);  // after each change
//   if (const DocumentSnapshot* s = h.undo()) restore(*s);
//
// The history knows nothing of how a snapshot is taken or restored; the document does both.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>
#include <vector>

namespace qm {

// What the document holds besides the picture's scene and still matters when a step is
// restored.
struct DocumentSnapshot {
    std::string scene;  // the scene's text: attractor, render settings, camera, random states
    // The parameters a search leaves alone: a setting of the search, not of the picture, so
    // ticking one is no step and two snapshots that differ only there are the same state.
    std::vector<bool> fixedParameters;
    bool streamsPinned = false;  // the scene's streams hold over the program's

    friend bool operator==(const DocumentSnapshot& a, const DocumentSnapshot& b) {
        return a.scene == b.scene && a.streamsPinned == b.streamsPinned;
    }
};

// The kinds of steps, which the interface names ("Annuler Recherche").
enum class HistoryStep : std::uint8_t {
    Start,       // the state the history starts from; never a step of its own
    Parameter,   // a parameter typed or dragged
    Kind,        // another kind of attractor
    Option,      // the IFS map count or the polynomial degree
    Iterations,  // the iterations of a render
    Search,      // a successful search
    Rotate,      // a drag that turned the attractor
    Pan,         // a drag that moved it
    Zoom,        // a drag or wheel burst that zoomed, or a typed scale
    Fit,
    Centre,
    RenderMode,
    ModeSetting,  // luminosity, gamma, opacity, roughness
    ColorMap,     // a gradient loaded from a colour map
    Resize,       // the image size
    Updates,      // the image updates of a render
    Open,         // a file opened into the document
};
inline constexpr int kHistoryStepCount = static_cast<int>(HistoryStep::Open) + 1;

class SceneHistory {
public:
    static constexpr std::size_t kDefaultDepth = 200;

    // depth: the most steps kept (at least 1); the oldest go first.
    explicit SceneHistory(std::size_t depth = kDefaultDepth);

    // Forgets every step: the history holds this one state.
    void reset(DocumentSnapshot start);

    // A step that led to this snapshot. Nothing is recorded when the snapshot is the current
    // one. With merge, a step of the same kind and key that is the last one recorded, with no
    // undo since, takes the new snapshot instead of a new step following it; a merged step
    // that leads back to the state before it disappears. Returns whether the history changed.
    bool record(HistoryStep step, std::int32_t key, DocumentSnapshot snapshot, bool merge);
    // Ends the gesture in progress: the next record starts a step of its own.
    void closeMerge() { mergeOpen_ = false; }

    // Move the position; the snapshot to restore, or null when there is nowhere to go.
    const DocumentSnapshot* undo();
    const DocumentSnapshot* redo();
    const DocumentSnapshot* jump(std::size_t index);

    bool canUndo() const { return position_ > 0; }
    bool canRedo() const { return position_ + 1 < entries_.size(); }
    // The step that an undo or a redo would take back or do again.
    HistoryStep undoStep() const;
    HistoryStep redoStep() const;

    // Entry 0 is the start; entry i > 0 is the state after step i.
    std::size_t size() const { return entries_.size(); }
    std::size_t position() const { return position_; }
    HistoryStep step(std::size_t index) const { return entries_[index].step; }
    const DocumentSnapshot& snapshot(std::size_t index) const { return entries_[index].snapshot; }
    const DocumentSnapshot& current() const { return entries_[position_].snapshot; }
    std::size_t depth() const { return depth_; }

private:
    struct Entry {
        HistoryStep step = HistoryStep::Start;
        std::int32_t key = 0;
        DocumentSnapshot snapshot;
    };

    std::deque<Entry> entries_;
    std::size_t position_ = 0;
    std::size_t depth_;
    bool mergeOpen_ = false;
};

}  // namespace qm
