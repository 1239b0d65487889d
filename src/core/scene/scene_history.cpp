#include "core/scene/scene_history.h"

#include <algorithm>
#include <utility>

namespace qm {

SceneHistory::SceneHistory(std::size_t depth) : depth_(std::max<std::size_t>(depth, 1)) {
    entries_.emplace_back();
}

void SceneHistory::reset(DocumentSnapshot start) {
    entries_.clear();
    entries_.push_back({HistoryStep::Start, 0, std::move(start)});
    position_ = 0;
    mergeOpen_ = false;
}

bool SceneHistory::record(HistoryStep step, std::int32_t key, DocumentSnapshot snapshot,
                          bool merge) {
    if (snapshot == entries_[position_].snapshot) return false;

    // The same gesture goes on: its step takes the state it has reached now.
    const Entry& last = entries_[position_];
    if (merge && mergeOpen_ && position_ > 0 && position_ + 1 == entries_.size() &&
        last.step == step && last.key == key) {
        if (snapshot == entries_[position_ - 1].snapshot) {
            // Back where the gesture began: it changed nothing after all.
            entries_.pop_back();
            --position_;
            mergeOpen_ = false;
            return true;
        }
        entries_[position_].snapshot = std::move(snapshot);
        return true;
    }

    // A new step: whatever could have been redone is gone.
    entries_.erase(entries_.begin() + static_cast<std::ptrdiff_t>(position_) + 1, entries_.end());
    entries_.push_back({step, key, std::move(snapshot)});
    ++position_;
    // The oldest states go: the new first one is where the history now starts.
    while (entries_.size() > depth_ + 1) {
        entries_.pop_front();
        --position_;
    }
    entries_.front().step = HistoryStep::Start;
    mergeOpen_ = true;
    return true;
}

const DocumentSnapshot* SceneHistory::undo() {
    if (!canUndo()) return nullptr;
    mergeOpen_ = false;
    return &entries_[--position_].snapshot;
}

const DocumentSnapshot* SceneHistory::redo() {
    if (!canRedo()) return nullptr;
    mergeOpen_ = false;
    return &entries_[++position_].snapshot;
}

const DocumentSnapshot* SceneHistory::jump(std::size_t index) {
    if (index >= entries_.size() || index == position_) return nullptr;
    mergeOpen_ = false;
    position_ = index;
    return &entries_[position_].snapshot;
}

HistoryStep SceneHistory::undoStep() const {
    return canUndo() ? entries_[position_].step : HistoryStep::Start;
}

HistoryStep SceneHistory::redoStep() const {
    return canRedo() ? entries_[position_ + 1].step : HistoryStep::Start;
}

}  // namespace qm
