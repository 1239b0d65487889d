// The undo history: undo, redo and jumps give back the snapshots recorded, a new step after
// an undo drops the redo branch, one gesture merges into one step, and the depth is bounded.
#include "core/scene/scene_history.h"

#include <gtest/gtest.h>

#include <string>

namespace qm {
namespace {

DocumentSnapshot state(const std::string& scene) {
    DocumentSnapshot s;
    s.scene = scene;
    return s;
}

TEST(SceneHistory, UndoRedoAndJumpWalkTheRecordedStates) {
    SceneHistory h;
    h.reset(state("a"));
    EXPECT_FALSE(h.canUndo());
    EXPECT_EQ(h.undo(), nullptr);
    EXPECT_TRUE(h.record(HistoryStep::Search, 0, state("b"), false));
    EXPECT_TRUE(h.record(HistoryStep::Rotate, 0, state("c"), false));
    ASSERT_EQ(h.size(), 3u);
    EXPECT_EQ(h.undoStep(), HistoryStep::Rotate);

    EXPECT_EQ(h.undo()->scene, "b");
    EXPECT_EQ(h.undoStep(), HistoryStep::Search);
    EXPECT_EQ(h.redoStep(), HistoryStep::Rotate);
    EXPECT_EQ(h.undo()->scene, "a");
    EXPECT_EQ(h.undo(), nullptr);
    EXPECT_EQ(h.redo()->scene, "b");
    EXPECT_EQ(h.jump(2)->scene, "c");
    EXPECT_EQ(h.redo(), nullptr);
    EXPECT_EQ(h.jump(2), nullptr);  // already there
    EXPECT_EQ(h.jump(3), nullptr);
    EXPECT_EQ(h.jump(0)->scene, "a");
    EXPECT_EQ(h.size(), 3u);  // moving drops nothing
}

TEST(SceneHistory, UnchangedStateRecordsNoStep) {
    SceneHistory h;
    h.reset(state("a"));
    EXPECT_FALSE(h.record(HistoryStep::Fit, 0, state("a"), false));
    DocumentSnapshot fixed = state("a");
    fixed.fixedParameters = {true};
    EXPECT_FALSE(h.record(HistoryStep::Fit, 0, fixed, false));  // a search setting only
    fixed.streamsPinned = true;
    EXPECT_TRUE(h.record(HistoryStep::Open, 0, fixed, false));
}

TEST(SceneHistory, NewStepAfterUndoDropsTheRedoBranch) {
    SceneHistory h;
    h.reset(state("a"));
    h.record(HistoryStep::Search, 0, state("b"), false);
    h.record(HistoryStep::Search, 0, state("c"), false);
    h.undo();
    h.undo();
    h.record(HistoryStep::Kind, 0, state("d"), false);
    EXPECT_FALSE(h.canRedo());
    ASSERT_EQ(h.size(), 2u);
    EXPECT_EQ(h.snapshot(1).scene, "d");
    EXPECT_EQ(h.undo()->scene, "a");
}

TEST(SceneHistory, OneGestureMergesIntoOneStep) {
    SceneHistory h;
    h.reset(state("a"));
    // The keys of a typed "10": the diverging "1" never becomes a step of its own.
    h.record(HistoryStep::Parameter, 3, state("1"), true);
    h.record(HistoryStep::Parameter, 3, state("10"), true);
    ASSERT_EQ(h.size(), 2u);
    EXPECT_EQ(h.current().scene, "10");
    // Another row, another kind of step, or the end of the gesture starts a new step.
    h.record(HistoryStep::Parameter, 4, state("x"), true);
    h.record(HistoryStep::Zoom, 4, state("y"), true);
    h.closeMerge();
    h.record(HistoryStep::Zoom, 4, state("z"), true);
    EXPECT_EQ(h.size(), 5u);
    // After an undo nothing merges into the step undone.
    h.undo();
    h.record(HistoryStep::Zoom, 4, state("w"), true);
    ASSERT_EQ(h.size(), 5u);
    EXPECT_EQ(h.snapshot(4).scene, "w");
    EXPECT_EQ(h.undo()->scene, "y");
}

TEST(SceneHistory, GestureBackToItsStartLeavesNoStep) {
    SceneHistory h;
    h.reset(state("a"));
    h.record(HistoryStep::Search, 0, state("b"), false);
    h.record(HistoryStep::Parameter, 0, state("c"), true);
    EXPECT_TRUE(h.record(HistoryStep::Parameter, 0, state("b"), true));
    ASSERT_EQ(h.size(), 2u);
    EXPECT_EQ(h.undoStep(), HistoryStep::Search);
    // And the step before it does not take the gesture's next move.
    h.record(HistoryStep::Parameter, 0, state("d"), true);
    EXPECT_EQ(h.size(), 3u);
}

TEST(SceneHistory, DepthKeepsTheNewestSteps) {
    SceneHistory h(3);
    h.reset(state("0"));
    for (int i = 1; i <= 5; ++i) h.record(HistoryStep::Search, 0, state(std::to_string(i)), false);
    ASSERT_EQ(h.size(), 4u);
    EXPECT_EQ(h.position(), 3u);
    EXPECT_EQ(h.snapshot(0).scene, "2");
    EXPECT_EQ(h.step(0), HistoryStep::Start);
    EXPECT_EQ(h.jump(0)->scene, "2");
    EXPECT_FALSE(h.canUndo());
}

}  // namespace
}  // namespace qm
