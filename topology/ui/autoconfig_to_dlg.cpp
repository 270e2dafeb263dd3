#include "topology/ui/autoconfig_to_dlg.h"

#include <QApplication>
#include <QCheckBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>
#include <mutex>

#include "discovery/mreg_app.h"

CDlg_AutoConfigTo::CDlg_AutoConfigTo(CMRegApp& app, base::Prompt& prompt, NodePtr node,
                                     QWidget* parent)
    : QDialog(parent), app_(app), prompt_(prompt), node_(std::move(node)) {
  setWindowTitle(QString::fromUtf8(topology::kTitleSetAddress));
  serial_ = new QLineEdit(this);
  serial_->setReadOnly(true);
  ip_ = new QLineEdit(this);
  mask_ = new QLineEdit(this);
  gateway_ = new QLineEdit(this);
  gatewayBox_ = new QCheckBox(this);
  action_ = new QPushButton(tr("IP Adresse des Moduls ändern und AutoConfig"), this);
  close_ = new QPushButton(tr("Close"), this);
  group_ = new QGroupBox(tr("Einstellungen des gewählten Moduls"), this);

  auto* form = new QFormLayout(group_);
  form->addRow(tr("Seriennummer"), serial_);
  form->addRow(tr("IP Adresse"), ip_);
  form->addRow(tr("Subnetzmaske"), mask_);
  auto* gatewayRow = new QHBoxLayout;
  gatewayRow->addWidget(gatewayBox_);
  gatewayRow->addWidget(gateway_);
  form->addRow(tr("Gateway"), gatewayRow);
  auto* buttons = new QHBoxLayout;
  buttons->addWidget(action_);
  buttons->addStretch();
  buttons->addWidget(close_);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(group_);
  layout->addLayout(buttons);

  // The module's settings as discovered; the gateway box is ticked when it has a gateway of
  // its own apart from its address.
  std::string ipText, maskText, gatewayText;
  uint32_t serial = 0;
  {
    const AdapterPtr adapter = app_.SelectedAdapter();
    std::unique_lock<std::mutex> lock;
    if (adapter) lock = std::unique_lock<std::mutex>(adapter->lock);
    if (node_) {
      serial = node_->serialNumber;
      ipText = node_->ipText;
      maskText = node_->maskText;
      gatewayText = node_->gatewayText;
    }
  }
  serial_->setText(QString::number(serial));
  ip_->setText(QString::fromStdString(ipText));
  mask_->setText(QString::fromStdString(maskText));
  const bool ownGateway = gatewayText != ipText;
  gatewayBox_->setChecked(ownGateway);
  gateway_->setText(ownGateway ? QString::fromStdString(gatewayText) : QString());
  gateway_->setEnabled(ownGateway);
  connect(gatewayBox_, &QCheckBox::toggled, gateway_, &QLineEdit::setEnabled);
  connect(action_, &QPushButton::clicked, this, &CDlg_AutoConfigTo::OnAction);
  connect(close_, &QPushButton::clicked, this, &CDlg_AutoConfigTo::reject);
  ip_->setFocus();
}

CDlg_AutoConfigTo::~CDlg_AutoConfigTo() {
  JoinWorker();
}

void CDlg_AutoConfigTo::JoinWorker() {
  if (worker_.joinable()) worker_.join();
}

void CDlg_AutoConfigTo::reject() {
  if (state_ == 2) return;
  QDialog::reject();
}

void CDlg_AutoConfigTo::OnAction() {
  if (state_ == 2 || !node_) return;
  JoinWorker();
  topology::SetAddressRequest request;
  request.ip = ip_->text().trimmed().toStdString();
  request.mask = mask_->text().trimmed().toStdString();
  request.gatewayBox = gatewayBox_->isChecked();
  request.gateway = gateway_->text().trimmed().toStdString();
  if (!request.gatewayBox) gateway_->clear();  // the gateway is the new address then
  action_->setEnabled(false);
  close_->setEnabled(false);
  state_ = 2;
  QApplication::setOverrideCursor(Qt::WaitCursor);
  worker_ = std::thread([this, request] {
    topology::SetAddressContext context{app_, prompt_, sequence_};
    topology::CheckedAddresses checked;
    const topology::SetAddressResult result =
        topology::ChangeNodeAddress(context, node_, request, &checked);
    const topology::AddressField refused = checked.refused;
    // The dialog joins this thread before it goes, so it is still there for the queued call.
    QMetaObject::invokeMethod(
        this, [this, result, refused] { OnFinished(result, refused); }, Qt::QueuedConnection);
  });
}

void CDlg_AutoConfigTo::OnFinished(topology::SetAddressResult result,
                                   topology::AddressField refused) {
  JoinWorker();
  QApplication::restoreOverrideCursor();
  state_ = 0;
  action_->setEnabled(true);
  close_->setEnabled(true);
  switch (result) {
    case topology::SetAddressResult::Refused:
      if (refused == topology::AddressField::Gateway) {
        gateway_->setFocus();
      } else if (refused == topology::AddressField::Mask) {
        mask_->setFocus();
      } else {
        ip_->setFocus();
      }
      break;
    case topology::SetAddressResult::Ok:
      accept();
      break;
    case topology::SetAddressResult::Cancel:
      QDialog::reject();
      break;
  }
}
