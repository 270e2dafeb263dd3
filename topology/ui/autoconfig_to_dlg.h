#pragma once
// CDlg_AutoConfigTo: a module's new IP address, subnet mask and gateway, sent to it before an
// AutoConfig from it. The packet and the wait for the module's answer run on a worker thread;
// the window shows the wait cursor and takes no input until the answer (or 2000 ms without
// one) has come. OK: the module took the settings, and the caller starts the AutoConfig.
#include <QDialog>
#include <memory>
#include <thread>

#include "base/prompt.h"
#include "discovery/inventory.h"
#include "topology/set_address.h"

class CMRegApp;
class QCheckBox;
class QGroupBox;
class QLineEdit;
class QPushButton;

class CDlg_AutoConfigTo : public QDialog {
  Q_OBJECT

 public:
  // `prompt` answers from any thread (the application's QtPrompt).
  CDlg_AutoConfigTo(CMRegApp& app, base::Prompt& prompt, NodePtr node, QWidget* parent = nullptr);
  ~CDlg_AutoConfigTo() override;

  QLineEdit* serialField() const { return serial_; }
  QLineEdit* ipField() const { return ip_; }
  QLineEdit* maskField() const { return mask_; }
  QLineEdit* gatewayField() const { return gateway_; }
  QCheckBox* gatewayBox() const { return gatewayBox_; }
  QPushButton* actionButton() const { return action_; }
  // 0 idle, 2 waiting for the module's answer.
  int state() const { return state_; }
  // The numbers of the packets this dialog sends.
  const topology::SetAddressSequence& sequence() const { return sequence_; }

 public slots:
  void reject() override;  // not while the module's answer is awaited

 private:
  void OnAction();
  void OnFinished(topology::SetAddressResult result, topology::AddressField refused);
  void JoinWorker();

  CMRegApp& app_;
  base::Prompt& prompt_;
  NodePtr node_;
  topology::SetAddressSequence sequence_;
  int state_ = 0;
  std::thread worker_;

  QLineEdit* serial_;
  QLineEdit* ip_;
  QLineEdit* mask_;
  QLineEdit* gateway_;
  QCheckBox* gatewayBox_;
  QPushButton* action_;
  QPushButton* close_;
  QGroupBox* group_;
};
