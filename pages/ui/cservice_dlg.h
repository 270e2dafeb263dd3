#pragma once
// "Besondere Dienste" (tab 4 of the advanced functions window): one-shot service commands
// and the Touch & Go options of the shown module. The page's work runs on a worker
// (pages/special_services.h); the page paints its views.
#include <QWidget>
#include <array>
#include <memory>
#include <string>

#include "pages/special_services.h"
#include "pages/ui/page_runner.h"
#include "ui/ctab_dlg.h"

class QCheckBox;
class QGroupBox;
class QPushButton;

namespace pages {

class CServiceDlg : public QWidget {
  Q_OBJECT
 public:
  CServiceDlg(const ui::AdvancedPageContext& context, std::unique_ptr<ModuleLink> link,
              QWidget* parent = nullptr);

  const ServiceView& ShownView() const { return shown_; }
  bool Busy() const { return runner_.Busy(); }

 public slots:
  void Refresh();

 signals:
  void viewShown();

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  struct Core {
    std::unique_ptr<ModuleLink> link;
    SpecialServices services;
    explicit Core(std::unique_ptr<ModuleLink> l) : link(std::move(l)), services(*link) {}
  };
  void Show(const ServiceView& view);
  void Command(std::function<bool(SpecialServices&)> command);
  void TouchGo(size_t box, bool ticked);

  std::string shown_address_;
  std::shared_ptr<Core> core_;
  PageRunner runner_;
  PagePrompt prompt_;
  ServiceView shown_;
  bool refreshed_ = false;

  QGroupBox* hours_ = nullptr;
  std::array<QCheckBox*, 4> touchGo_{};
  std::array<QPushButton*, 5> commands_{};
};

}  // namespace pages
