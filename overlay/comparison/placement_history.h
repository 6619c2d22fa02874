// Undo and redo of the overlay's placement and of the measures, in one order: each change the
// user makes is one step, a gesture (a thumb or a measure's point dragged, an alignment that
// moves four sliders) one step however many changes it makes.
#pragma once

#include <cstddef>
#include <optional>
#include <vector>

#include "overlay/comparison/measure.h"
#include "overlay/comparison/sliders.h"

namespace overlay {

struct TPlacementState {
  TPlacement Steps;                          // the four placing sliders' positions
  std::optional<TPrecisePlacement> Precise;  // set when the overlay stands between the steps
  std::vector<TMeasure> Measures;            // the finished rulers and outlines
  friend bool operator==(const TPlacementState&, const TPlacementState&) = default;
};

class TPlacementHistory {
 public:
  // The most steps kept; the oldest go first (the start, for Reset, is kept apart).
  static constexpr std::size_t MaxSteps = 1000;

  // A new picture 2: Start alone, nothing to undo or redo, no gesture open.
  void Reset(const TPlacementState& Start);
  // The placement is now State. Outside a gesture, and at a gesture's first change, a new step
  // (the steps that could be redone are gone); later in the gesture, its step becomes State. A
  // State equal to the current one changes nothing.
  void Record(const TPlacementState& State);
  // Gestures nest; the outermost one's changes make one step.
  void BeginGesture();
  void EndGesture();

  // The state one step back or forward, now the current one; none at either end.
  std::optional<TPlacementState> Undo();
  std::optional<TPlacementState> Redo();
  bool CanUndo() const { return FCurrent > 0; }
  bool InGesture() const { return FGestureDepth > 0; }
  bool CanRedo() const { return FCurrent + 1 < FStates.size(); }
  const TPlacementState& Start() const { return FStart; }

  // A gesture for one scope.
  class TGesture {
   public:
    explicit TGesture(TPlacementHistory& History) : FHistory(History) { FHistory.BeginGesture(); }
    ~TGesture() { FHistory.EndGesture(); }
    TGesture(const TGesture&) = delete;
    TGesture& operator=(const TGesture&) = delete;

   private:
    TPlacementHistory& FHistory;
  };

 private:
  TPlacementState FStart;
  std::vector<TPlacementState> FStates{TPlacementState{}};
  std::size_t FCurrent = 0;
  int FGestureDepth = 0;
  bool FGestureRecorded = false;
};

}  // namespace overlay
