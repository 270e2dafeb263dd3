#pragma once
// "Sensoren" (tab 7 of the advanced functions window): the polarity of the blocked signal
// and of the sensor error output of the shown module's two sensors, and their copy to the
// node range. The page's work runs on a worker (pages/sensors.h); the page paints its views.
#include <QWidget>
#include <array>
#include <memory>
#include <string>
#include <vector>

#include "pages/sensors.h"
#include "pages/ui/page_runner.h"
#include "ui/ctab_dlg.h"

class QLabel;
class QPushButton;
class QToolButton;

namespace pages {

class CSensors : public QWidget {
  Q_OBJECT
 public:
  CSensors(const ui::AdvancedPageContext& context, std::unique_ptr<ModuleLink> link,
           QWidget* parent = nullptr);

  const SensorsView& ShownView() const { return shown_; }
  bool Busy() const { return runner_.Busy(); }

 public slots:
  void Refresh();
  void Toggle(int setting);
  void SetBit(int setting, bool set);
  // Asks first; `ask` false: the question counts as answered with Yes (tests, screenshots).
  void SetAllSensors(bool ask = true);

 signals:
  void viewShown();

 protected:
  void showEvent(QShowEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;

 private:
  struct Core {
    std::unique_ptr<ModuleLink> link;
    Sensors sensors;
    explicit Core(std::unique_ptr<ModuleLink> l) : link(std::move(l)), sensors(*link) {}
  };
  void Show(const SensorsView& view, bool final);
  void RunWrite(std::function<SensorsView(Sensors&)> work);

  std::string network_;
  std::string shown_address_;
  std::vector<std::string> range_;
  std::shared_ptr<Core> core_;
  PageRunner runner_;
  PagePrompt prompt_;
  SensorsView shown_;
  bool refreshed_ = false;

  std::array<QPushButton*, 4> toggles_{};
  std::array<QToolButton*, 4> setButtons_{};    // first picture: bit set (inverted)
  std::array<QToolButton*, 4> clearButtons_{};  // second picture: bit clear (normal)
  std::array<QLabel*, 2> errorLabels_{};
  QLabel* lock_ = nullptr;
  QLabel* progress_ = nullptr;
  QPushButton* setAll_ = nullptr;
};

}  // namespace pages
