#include "diag/ui/diagnostic_log_dlg.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTimer>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <algorithm>

#include "diag/ui/off_gui.h"
#include "diag/ui/qt_text.h"
#include "params/node_screen_controller.h"
#include "params/ui/cmreg_dlg.h"

namespace diag {

namespace {

QTreeWidget* MakeList(QWidget* parent, const QString& name) {
  auto* list = new QTreeWidget(parent);
  list->setObjectName(name);
  list->setRootIsDecorated(false);
  list->setUniformRowHeights(true);
  list->setAlternatingRowColors(true);
  QStringList titles;
  for (const LogColumn& column : kLogColumns) titles << Utf8ToQString(column.title);
  list->setHeaderLabels(titles);
  for (int k = 0; k < static_cast<int>(std::size(kLogColumns)); ++k) {
    list->setColumnWidth(k, kLogColumns[k].width);
  }
  return list;
}

}  // namespace

CDiagnosticLog::CDiagnosticLog(params::CMRegDlg& screen, QWidget* parent)
    : QDialog(parent), screen_(screen), guard_(std::make_shared<QPointer<QObject>>(this)) {
  setObjectName(QStringLiteral("diagnosticLog"));
  setWindowTitle(tr("Diagnostik log"));
  auto* root = new QVBoxLayout(this);
  for (int k = 0; k < 2; ++k) {
    captions_[static_cast<size_t>(k)] = new QLabel(tr("Log %1").arg(k + 1), this);
    lists_[static_cast<size_t>(k)] = MakeList(this, QStringLiteral("log%1").arg(k + 1));
    root->addWidget(captions_[static_cast<size_t>(k)]);
    root->addWidget(lists_[static_cast<size_t>(k)], 1);
  }
  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  auto* read = new QPushButton(tr("Einlesen"), this);
  read->setObjectName(QStringLiteral("read"));
  auto* close = new QPushButton(tr("Schließen"), this);
  close->setObjectName(QStringLiteral("close"));
  buttons->addWidget(read);
  buttons->addWidget(close);
  root->addLayout(buttons);
  connect(read, &QPushButton::clicked, this, &CDiagnosticLog::Read);
  connect(close, &QPushButton::clicked, this, &QDialog::reject);
  resize(620, 560);

  timer_ = new QTimer(this);
  timer_->setSingleShot(true);
  connect(timer_, &QTimer::timeout, this, &CDiagnosticLog::Read);
  Read();
}

CDiagnosticLog::~CDiagnosticLog() = default;

void CDiagnosticLog::Read() {
  if (reading_) return;
  reading_ = true;
  // The node screen's client reads, on its worker; the node screen's module is the one shown.
  screen_.Worker().Post([guard = guard_, this](params::NodeScreenController& controller) {
    std::optional<DiagnosticLogs> logs;
    if (controller.Connected()) logs = ReadDiagnosticLogs(controller.Link().Registers());
    DeliverToGui<std::optional<DiagnosticLogs>>(
        guard, std::move(logs), [this](std::optional<DiagnosticLogs> read) { Show(read); });
  });
}

void CDiagnosticLog::Show(const std::optional<DiagnosticLogs>& logs) {
  reading_ = false;
  // The first list and its caption are hidden for the family that keeps no log 1 (its
  // register 17 says so; the window has no discovery record to take a type byte from).
  const bool hideFirst = logs && !logs->firstLogKept;
  lists_[0]->setVisible(!hideFirst);
  captions_[0]->setVisible(!hideFirst);
  for (size_t k = 0; k < 2; ++k) {
    QTreeWidget* list = lists_[k];
    list->clear();
    if (!logs) continue;
    QList<QTreeWidgetItem*> items;
    for (const LogRow& row : logs->rows[k]) {
      items << new QTreeWidgetItem(
          QStringList{QString::fromStdString(row.time), QString::fromStdString(row.cause),
                      QString::fromStdString(row.description), QString::fromStdString(row.value)});
    }
    list->addTopLevelItems(items);
    // The given widths, widened where a text would be cut off.
    for (int c = 0; c < list->columnCount(); ++c) {
      list->resizeColumnToContents(c);
      list->setColumnWidth(c, std::max(kLogColumns[c].width, list->columnWidth(c)));
    }
  }
  ++readsShown_;
  timer_->start(kTimerMs);
  emit logsShown();
}

}  // namespace diag
