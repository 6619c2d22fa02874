#include "overlay/comparison/placement_history.h"

namespace overlay {

void TPlacementHistory::Reset(const TPlacementState& Start) {
  FStart = Start;
  FStates.assign(1, Start);
  FCurrent = 0;
  // A gesture left open (its end lost with the pictures it changed) would fold every later change
  // into one step.
  FGestureDepth = 0;
  FGestureRecorded = false;
}

void TPlacementHistory::Record(const TPlacementState& State) {
  if (State == FStates[FCurrent]) return;
  if (FGestureDepth > 0 && FGestureRecorded) {
    FStates[FCurrent] = State;
    return;
  }
  FStates.resize(FCurrent + 1);
  FStates.push_back(State);
  if (FStates.size() > MaxSteps) FStates.erase(FStates.begin());
  FCurrent = FStates.size() - 1;
  FGestureRecorded = FGestureDepth > 0;
}

void TPlacementHistory::BeginGesture() {
  ++FGestureDepth;
}

void TPlacementHistory::EndGesture() {
  if (FGestureDepth > 0 && --FGestureDepth == 0) FGestureRecorded = false;
}

std::optional<TPlacementState> TPlacementHistory::Undo() {
  if (!CanUndo()) return {};
  return FStates[--FCurrent];
}

std::optional<TPlacementState> TPlacementHistory::Redo() {
  if (!CanRedo()) return {};
  return FStates[++FCurrent];
}

}  // namespace overlay
