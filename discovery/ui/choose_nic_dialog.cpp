#include "discovery/ui/choose_nic_dialog.h"

#include <QApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>

CDlg_ChooseNIC::CDlg_ChooseNIC(QWidget* parent)
    : QDialog(parent),
      list_(new QListWidget(this)),
      label_(new QLabel(this)),
      ok_(new QPushButton(this)),
      cancel_(new QPushButton(this)) {
  beep = [] { QApplication::beep(); };
  setWindowTitle(tr("Bitte auswählen welcher Netzwerkadapter benutzt werden soll"));
  label_->setText(tr("Verfügbare Knoten an diesen Adaptern:"));
  ok_->setText(tr("OK"));
  cancel_->setText(tr("Abbruch"));

  ok_->setDefault(true);
  list_->setSelectionMode(QAbstractItemView::SingleSelection);

  auto* buttons = new QHBoxLayout;
  buttons->addStretch();
  buttons->addWidget(ok_);
  buttons->addWidget(cancel_);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(label_);
  layout->addWidget(list_);
  layout->addLayout(buttons);
  resize(460, 220);

  connect(list_, &QListWidget::itemSelectionChanged, this, &CDlg_ChooseNIC::OnSelectionChanged);
  connect(list_, &QListWidget::itemDoubleClicked, this, &CDlg_ChooseNIC::OnDoubleClicked);
  connect(ok_, &QPushButton::clicked, this, &CDlg_ChooseNIC::OnOk);
  connect(cancel_, &QPushButton::clicked, this, &QDialog::reject);
}

void CDlg_ChooseNIC::SetEntries(const std::vector<std::string>& entries) {
  list_->clear();
  for (const auto& entry : entries) list_->addItem(QString::fromStdString(entry));
}

int CDlg_ChooseNIC::SelectedRow() const {
  const auto selected = list_->selectedItems();
  return selected.isEmpty() ? -1 : list_->row(selected.front());
}

void CDlg_ChooseNIC::OnSelectionChanged() {
  const int row = SelectedRow();
  if (row < 0) return;
  chosenIndex_ = row;
  ok_->setEnabled(true);
}

void CDlg_ChooseNIC::OnDoubleClicked() {
  const int row = SelectedRow() >= 0 ? SelectedRow() : list_->currentRow();
  if (row < 0) return;
  chosenIndex_ = row;
  ok_->setEnabled(true);
  accept();
}

void CDlg_ChooseNIC::OnOk() {
  const int row = SelectedRow();
  if (row < 0) {
    if (beep) beep();
    return;
  }
  chosenIndex_ = row;
  accept();
}

int ChooseAdapterWithDialog(const std::vector<std::string>& entries, QWidget* parent) {
  CDlg_ChooseNIC dialog(parent);
  dialog.SetEntries(entries);
  return dialog.exec() == QDialog::Accepted ? dialog.chosenIndex() : -1;
}
