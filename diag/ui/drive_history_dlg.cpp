#include "diag/ui/drive_history_dlg.h"

#include <QHBoxLayout>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <algorithm>

#include "base/language.h"
#include "diag/diagnostic_log_reader.h"
#include "diag/drive_history.h"
#include "diag/ui/off_gui.h"

namespace diag {

UxMtrHistory::UxMtrHistory(std::function<std::string()> address, QWidget* parent)
    : QDialog(parent), address_(std::move(address)) {
  setObjectName(QStringLiteral("driveHistory"));
  setWindowTitle(tr("Antriebs Historie"));
  auto* root = new QVBoxLayout(this);
  list_ = new QTreeWidget(this);
  list_->setObjectName(QStringLiteral("history"));
  list_->setRootIsDecorated(false);
  list_->setAlternatingRowColors(true);
  QStringList titles;
  for (const HistoryColumn& column : kHistoryColumns) {
    // The motor column's "\r" is part of its title; a header shows it as a break.
    titles << QString::fromUtf8(base::Translate("DriveHistory", std::string(column.title).c_str()));
  }
  list_->setHeaderLabels(titles);
  for (int k = 0; k < static_cast<int>(std::size(kHistoryColumns)); ++k) {
    list_->setColumnWidth(k, kHistoryColumns[k].width);
  }
  root->addWidget(list_, 1);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  auto* read = new QPushButton(tr("Einlesen"), this);
  read->setObjectName(QStringLiteral("read"));
  auto* close = new QPushButton(tr("Schließen"), this);
  close->setObjectName(QStringLiteral("close"));
  buttons->addWidget(read);
  buttons->addWidget(close);
  root->addLayout(buttons);
  connect(read, &QPushButton::clicked, this, &UxMtrHistory::Read);
  connect(close, &QPushButton::clicked, this, &QDialog::reject);
  resize(1000, 420);
  Read();
}

void UxMtrHistory::Read() {
  if (reading_) return;
  reading_ = true;
  list_->clear();
  const std::string address = address_();
  RunOffGui<std::optional<std::string>>(
      this, [address] { return ReadDriveHistoryAnswer(address); },
      [this](std::optional<std::string> answer) { Show(answer); });
}

void UxMtrHistory::Show(const std::optional<std::string>& answer) {
  reading_ = false;
  list_->clear();
  // No connection or no answer: the list stays empty.
  if (answer) {
    QList<QTreeWidgetItem*> items;
    for (const HistoryRow& row : HistoryRows(ParseHistory(*answer))) {
      QStringList texts;
      for (const std::string& column : row.columns) texts << QString::fromStdString(column);
      items << new QTreeWidgetItem(texts);
    }
    list_->addTopLevelItems(items);
    // The given widths, widened where a text would be cut off.
    for (int k = 0; k < list_->columnCount(); ++k) {
      list_->resizeColumnToContents(k);
      list_->setColumnWidth(k, std::max(kHistoryColumns[k].width, list_->columnWidth(k)));
    }
  }
  ++readsShown_;
  emit historyShown();
}

}  // namespace diag
