#pragma once
// "Flex Zone" (tab 6 of the advanced functions window): switches the flex zone function of
// every module of the current network on or off and sets their inter-module communication
// time. The page's work runs on a worker (pages/flex_zone.h); the page paints its views.
#include <QWidget>
#include <memory>
#include <string>

#include "pages/flex_zone.h"
#include "pages/ui/page_runner.h"
#include "ui/ctab_dlg.h"

class QLabel;
class QLineEdit;
class QPushButton;

namespace pages {

class CFlexZone : public QWidget {
  Q_OBJECT
 public:
  CFlexZone(const ui::AdvancedPageContext& context, std::unique_ptr<ModuleLink> link,
            FlexZone::Lister lister, QWidget* parent = nullptr);

  const FlexZoneView& ShownView() const { return shown_; }
  bool Busy() const { return runner_.Busy(); }

 public slots:
  void Refresh();
  void EnableAll();
  void DisableAll();
  void SetAll();

 signals:
  void viewShown();  // a view from the worker was painted

 protected:
  void showEvent(QShowEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;

 private:
  struct Core {
    std::unique_ptr<ModuleLink> link;
    FlexZone zone;
    Core(std::unique_ptr<ModuleLink> l, FlexZone::Lister lister)
        : link(std::move(l)), zone(*link, std::move(lister)) {}
  };
  void Show(const FlexZoneView& view, bool final);
  // After a write to every module: the modules not written or not saved, told together.
  void TellFailed(const FlexZoneView& view, const char* operation);
  void Switch(uint16_t value);

  std::string network_;
  std::shared_ptr<Core> core_;
  PageRunner runner_;
  PagePrompt prompt_;
  FlexZoneView shown_;
  bool refreshed_ = false;

  QLabel* count_ = nullptr;
  QLabel* status_ = nullptr;
  QLabel* progress_ = nullptr;
  QLineEdit* time_ = nullptr;
  QPushButton* enableAll_ = nullptr;
  QPushButton* disableAll_ = nullptr;
  QPushButton* setAll_ = nullptr;
};

}  // namespace pages
