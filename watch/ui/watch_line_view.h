#pragma once
// The drawing of the line watch: the as-built record drawn by the topology window's view, every
// module at its recorded place, each labelled with what the watch knows of it now (present,
// not answering, gone with the time since, replaced, moved or turned or changed).
#include <QString>
#include <map>
#include <vector>

#include "topology/topology_model.h"
#include "topology/ui/cpl_view.h"
#include "watch/line_watch.h"

namespace watch::ui {

// The record of a snapshot as the view's device array: one device per recorded module at its
// recorded row and column, joined to its recorded parent (to the PC's switch when it has none
// or its parent is not recorded). Gone and replaced modules carry an error with their state.
topology::DeviceArray RecordDrawing(const LineSnapshot& snapshot, Clock::time_point now);

// "0:00:07", "1:02:03", "3 d 4:05:06".
QString DurationText(std::chrono::milliseconds duration);

enum class StateTone { Good, Warning, Bad };
struct ModuleStateText {
  QString text;
  StateTone tone = StateTone::Good;
};

class CWatchLineView : public topology::ui::CPLView {
  Q_OBJECT
 public:
  explicit CWatchLineView(QWidget* parent = nullptr);

  // A module's label at `now`.
  static ModuleStateText StateOf(const ModuleWatchState& module, Clock::time_point now);

  void ShowSnapshot(const LineSnapshot& snapshot, Clock::time_point now);
  // The labels again at `now` (the time since a module went); the drawing stays.
  void RefreshStates(Clock::time_point now);
  // The label of a recorded module (empty when it is not drawn).
  QString StateTextOf(uint32_t serial) const;
  StateTone StateToneOf(uint32_t serial) const;
  bool AnyTimeShown() const;

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  std::vector<ModuleWatchState> modules_;
  std::map<uint32_t, ModuleStateText> states_;
};

}  // namespace watch::ui
