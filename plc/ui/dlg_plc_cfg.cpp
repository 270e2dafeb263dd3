#include "plc/ui/dlg_plc_cfg.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFileDialog>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollArea>
#include <QSignalBlocker>
#include <QSpinBox>
#include <QVBoxLayout>

#include <algorithm>

#include "base/format.h"
#include "comm/event_log.h"

namespace plc {

namespace {
QString Q(const std::string& text) {
  return QString::fromStdString(text);
}
}  // namespace

CDlgPLC_CFG::CDlgPLC_CFG(const std::string& address, const std::string& tagFile,
                         base::Prompt& prompt, ModuleProgramReader readProgram, QWidget* parent,
                         CRequestManager& manager)
    : QDialog(parent),
      manager_(manager),
      prompt_(prompt),
      readProgram_(std::move(readProgram)),
      tagFile_(tagFile) {
  setObjectName(QStringLiteral("CDlgPLC_CFG"));
  setWindowTitle(tr("PLC Daten"));
  addressText_ = address.empty() ? std::string(kInitialAddress) : address;
  model_.SetAddress(addressText_);

  auto* root = new QVBoxLayout(this);
  auto* top = new QHBoxLayout;
  top->addWidget(new QLabel(tr("Modul IP:"), this));
  address_ = new QLineEdit(Q(addressText_), this);
  address_->setObjectName(QStringLiteral("address"));
  address_->setMaximumWidth(140);
  // A typed address is a change of module like any other.
  connect(address_, &QLineEdit::editingFinished, this,
          [this] { SetAddress(address_->text().trimmed().toStdString()); });
  top->addWidget(address_);
  top->addWidget(new QLabel(tr("Basisadresse:"), this));
  base_ = new QSpinBox(this);
  base_->setObjectName(QStringLiteral("baseAddress"));
  base_->setRange(0, static_cast<int>(kMaxDataSize) - 1);
  connect(base_, &QSpinBox::valueChanged, this,
          [this](int value) { model_.baseAddress = static_cast<uint16_t>(value); });
  top->addWidget(base_);
  top->addStretch(1);
  auto* pick = new QPushButton(tr("Tag-Datei..."), this);
  pick->setObjectName(QStringLiteral("pickTags"));
  pick->setAutoDefault(false);
  connect(pick, &QPushButton::clicked, this, &CDlgPLC_CFG::PickTagFile);
  top->addWidget(pick);
  root->addLayout(top);

  program_ = new QLabel(this);
  program_->setObjectName(QStringLiteral("program"));
  program_->setStyleSheet(QStringLiteral("font-weight: bold;"));
  root->addWidget(program_);

  auto* scroll = new QScrollArea(this);
  scroll->setWidgetResizable(true);
  tagsBox_ = new QWidget(scroll);
  tagsGrid_ = new QGridLayout(tagsBox_);
  tagsGrid_->setColumnStretch(1, 1);
  scroll->setWidget(tagsBox_);
  root->addWidget(scroll, 1);

  status_ = new QLabel(this);
  status_->setObjectName(QStringLiteral("status"));
  status_->setTextFormat(Qt::PlainText);
  status_->setWordWrap(true);
  status_->setFrameShape(QFrame::StyledPanel);
  status_->setMinimumHeight(34);
  root->addWidget(status_);
  resize(520, 460);

  loadTimer_.setSingleShot(true);
  connect(&loadTimer_, &QTimer::timeout, this, [this] {
    if (tagFile_.empty()) {
      SetStatus(Q(base::Format(kNoProgramInfo, Address().c_str())), true);
      return;
    }
    LoadTags(tagFile_);
  });

  // The periodic block reads run on the view's worker: SubmitRequest pauses its caller.
  base::SerialWorker::Cycle cycle;
  cycle.running = [this] { return reading_.load(); };
  cycle.generation = [] { return uint64_t{0}; };
  cycle.pass = [this] { Pass(); };
  worker_ = std::make_unique<base::SerialWorker>(std::move(cycle), base::SerialWorker::Hooks{},
                                                 kReadCycleMs);
}

CDlgPLC_CFG::~CDlgPLC_CFG() {
  // The address field loses its focus while the window goes: that is no change of module.
  address_->disconnect(this);
  // No notification reaches this window any more, and the worker ends before the model goes.
  manager_.ClearNotify(this);
  reading_ = false;
  worker_->Stop();
  worker_.reset();
  // The program keeps one view at a time: what is still queued was this view's.
  std::lock_guard<std::mutex> lock(manager_.Queue().Lock());
  manager_.Queue().Items().clear();
}

void CDlgPLC_CFG::SetAddress(const std::string& address) {
  if (address_->text().toStdString() != address) address_->setText(Q(address));
  if (address == Address()) return;
  // Nothing of the previous module may reach the new one: no more reads, its requests gone,
  // its image dropped, its tags hidden until the new module's program is checked.
  reading_ = false;
  ++generation_;
  {
    std::lock_guard<std::mutex> lock(addressLock_);
    addressText_ = address;
  }
  {
    std::lock_guard<std::mutex> lock(manager_.Queue().Lock());
    auto& items = manager_.Queue().Items();
    items.erase(std::remove_if(items.begin(), items.end(),
                               [&address](const auto& item) { return item->address != address; }),
                items.end());
  }
  model_.SetAddress(address);
  ClearTags();
  if (tagFile_.empty()) {
    SetStatus(Q(base::Format(kNoProgramInfo, address.c_str())), true);
    return;
  }
  LoadTags(tagFile_);
}

std::string CDlgPLC_CFG::Address() const {
  std::lock_guard<std::mutex> lock(addressLock_);
  return addressText_;
}

void CDlgPLC_CFG::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  if (shownOnce_) return;
  shownOnce_ = true;
  // This window now receives the request manager's notifications, on its own thread.
  QPointer<CDlgPLC_CFG> self(this);
  manager_.SetNotify(
      [self](uint32_t notification) {
        QMetaObject::invokeMethod(
            self.data(),
            [self, notification] {
              if (self) self->OnNotify(notification);
            },
            Qt::QueuedConnection);
      },
      this);
  loadTimer_.start(kLoadDelayMs);
}

bool CDlgPLC_CFG::LoadTags(const std::string& path) {
  const bool isJson = path.size() > 5 && path.compare(path.size() - 5, 5, ".json") == 0;
  const std::string file = isJson ? path : TagFileForProgram(path);
  std::string error;
  auto info = LoadTagFile(file, &error);
  if (!info) {
    LogError("CDlgPLC_CFG::LoadTags - %s", error.c_str());
    SetStatus(Q(base::Format(kNoProgramInfo, Address().c_str())) + QStringLiteral("\n") + Q(error),
              true);
    return false;
  }
  tagFile_ = file;
  reading_ = false;
  ClearTags();
  model_.SetProgram(std::move(*info));
  program_->setText(Q(
      base::Format("%s (%u Bytes)", model_.Program().program.c_str(), model_.Program().dataSize)));
  {
    std::lock_guard<std::mutex> lock(addressLock_);
    plan_ = PlanBlockReads(model_.Program().dataSize);
  }
  CheckProgram();
  return true;
}

void CDlgPLC_CFG::CheckProgram() {
  const uint64_t generation = ++generation_;
  const std::string address = Address();
  SetStatus(tr("Prüfe das PLC Programm von %1...").arg(Q(address)), false);

  QPointer<CDlgPLC_CFG> self(this);
  worker_->Post([self, generation, address, reader = readProgram_,
                 tagProgram = model_.Program().program] {
    const ModuleProgram module = reader ? reader(address) : ModuleProgram{};
    const std::string mismatch = ProgramMismatch(tagProgram, address, module);
    const std::string refusal = mismatch.empty() ? "" : "Tags not shown: " + mismatch + ".";
    QMetaObject::invokeMethod(
        self.data(),
        [self, generation, refusal] {
          if (self) self->OnProgramChecked(generation, refusal);
        },
        Qt::QueuedConnection);
  });
}

void CDlgPLC_CFG::OnProgramChecked(uint64_t generation, const std::string& refusal) {
  if (generation != generation_.load()) return;  // a later load or module took over
  if (!refusal.empty()) {
    LogWarning("CDlgPLC_CFG - %s", refusal.c_str());
    SetStatus(Q(refusal), true);
    return;
  }
  BuildTags();
  SetStatus(QString(), false);
  inFlight_ = 0;
  reading_ = true;
  worker_->Post([] {});  // wakes the worker: the first pass starts at once
}

void CDlgPLC_CFG::PickTagFile() {
  const QString path = QFileDialog::getOpenFileName(
      this, tr("Tag-Datei"), QString(),
      tr("Tag-Dateien (*.tags.json *.json);;PLC Programme (*.bin);;Alle Dateien (*)"));
  if (!path.isEmpty()) LoadTags(path.toStdString());
}

void CDlgPLC_CFG::ClearTags() {
  while (QLayoutItem* item = tagsGrid_->takeAt(0)) {
    delete item->widget();
    delete item;
  }
  rows_.clear();
  tagsShown_ = false;
}

void CDlgPLC_CFG::BuildTags() {
  ClearTags();
  tagsShown_ = true;
  const auto& tags = model_.Program().tags;
  for (size_t i = 0; i < tags.size(); ++i) {
    const PlcTag& tag = tags[i];
    const int r = static_cast<int>(i);
    TagRow row;
    auto* name = new QLabel(Q(tag.name), tagsBox_);
    tagsGrid_->addWidget(name, r, 0);
    const QString id = QStringLiteral("tag%1").arg(i);
    if (tag.control == kControlCheck) {
      row.check = new QCheckBox(tagsBox_);
      row.check->setObjectName(id);
      tagsGrid_->addWidget(row.check, r, 1);
      connect(row.check, &QCheckBox::clicked, this, [this, i](bool ticked) {
        SubmitWrite(model_.CheckRequest(Address(), model_.Program().tags[i], ticked));
      });
    } else if (tag.control == kControlCombo) {
      row.combo = new QComboBox(tagsBox_);
      row.combo->setObjectName(id);
      for (const ComboItem& item : tag.items) row.combo->addItem(Q(item.text), item.value);
      row.combo->setCurrentIndex(-1);
      tagsGrid_->addWidget(row.combo, r, 1);
      connect(row.combo, &QComboBox::activated, this, [this, i](int index) {
        if (auto request = model_.ComboRequest(Address(), model_.Program().tags[i], index))
          SubmitWrite(std::move(*request));
      });
    } else {
      row.edit = new QLineEdit(tagsBox_);
      row.edit->setObjectName(id);
      tagsGrid_->addWidget(row.edit, r, 1);
      row.apply = new QPushButton(tr("Setzen"), tagsBox_);
      row.apply->setObjectName(id + QStringLiteral("_apply"));
      row.apply->setAutoDefault(false);
      tagsGrid_->addWidget(row.apply, r, 3);
      connect(row.apply, &QPushButton::clicked, this, [this, i] {
        const PlcTag& t = model_.Program().tags[i];
        EditOutcome outcome = model_.EditRequest(Address(), t, rows_[i].edit->text().toStdString());
        if (!outcome.request) {
          prompt_.Ask(outcome.message, outcome.caption, base::PromptButtons::Ok,
                      base::PromptIcon::Warning);
          return;
        }
        SubmitWrite(std::move(*outcome.request));
      });
    }
    tagsGrid_->addWidget(new QLabel(Q(tag.unit), tagsBox_), r, 2);
    rows_.push_back(row);
  }
  tagsGrid_->setRowStretch(static_cast<int>(tags.size()), 1);
}

void CDlgPLC_CFG::ShowValues() {
  const auto& tags = model_.Program().tags;
  for (size_t i = 0; i < tags.size() && i < rows_.size(); ++i) {
    const TagRow& row = rows_[i];
    if (row.check) {
      const QSignalBlocker block(row.check);
      row.check->setChecked(model_.CheckValue(tags[i]));
    } else if (row.combo) {
      const QSignalBlocker block(row.combo);
      row.combo->setCurrentIndex(model_.ComboIndex(tags[i]));
    } else if (row.edit && !row.edit->hasFocus()) {
      // A value being typed is not overwritten by the refresh.
      row.edit->setText(QString::number(model_.Value(tags[i])));
    }
  }
}

void CDlgPLC_CFG::SubmitWrite(CTagRequest request) {
  CRequestManager& manager = manager_;
  QPointer<CDlgPLC_CFG> self(this);
  worker_->Post([self, this, &manager, generation = generation_.load(), reader = readProgram_,
                 tagProgram = model_.Program().program, request = std::move(request)]() mutable {
    // The module is asked again right before the write: its program may have been changed since
    // the tags were shown, and a write at these offsets into another program does harm.
    std::string refusal;
    if (generation != generation_.load()) {
      refusal = std::string(kNothingWritten) + "the view shows another module now.";
    } else {
      const ModuleProgram module = reader ? reader(request.address) : ModuleProgram{};
      const std::string mismatch = ProgramMismatch(tagProgram, request.address, module);
      if (!mismatch.empty()) refusal = kNothingWritten + mismatch + ".";
    }
    if (refusal.empty() && generation == generation_.load()) {
      CTagRequest* queued = manager.Queue().Append(std::move(request));
      manager.SubmitRequest(queued);
      return;
    }
    LogWarning("CDlgPLC_CFG - %s", refusal.c_str());
    QMetaObject::invokeMethod(
        self.data(),
        [self, refusal] {
          if (!self) return;
          self->SetStatus(Q(refusal), true);
          self->prompt_.Tell(refusal, kWriteRefusedCaption, base::PromptIcon::Warning);
        },
        Qt::QueuedConnection);
  });
}

void CDlgPLC_CFG::Pass() {
  // One read per block, unless the previous cycle's reads are still out.
  if (inFlight_.load() > 0) return;
  std::vector<BlockRead> plan;
  std::string address;
  {
    std::lock_guard<std::mutex> lock(addressLock_);
    plan = plan_;
    address = addressText_;
  }
  inFlight_ = static_cast<int>(plan.size());
  for (const BlockRead& read : plan) {
    if (!reading_.load()) break;
    CTagRequest* queued =
        manager_.Queue().Append(CTagRequest::Read(address, read.dataAddress, read.count));
    manager_.SubmitRequest(queued);
  }
}

void CDlgPLC_CFG::OnNotify(unsigned notification) {
  if (notification == kNotifyAnswered) {
    const auto result = model_.HandleAnswers(manager_.Queue());
    if (result.refreshed) {
      ShowValues();
      inFlight_ = 0;
      SetStatus(QString(), false);
    }
  } else if (notification == kNotifyFailed) {
    const std::vector<std::string> lines = model_.TakeFailures(manager_.Queue());
    if (!lines.empty()) {
      QStringList texts;
      for (const std::string& line : lines) texts << Q(line);
      SetStatus(texts.join(QStringLiteral("\n")), true);
      // A cycle whose reads failed is over: the next one reads again.
      inFlight_ = 0;
    }
  } else if (notification == kNotifyWriteSent) {
    SetStatus(tr("Wert gesendet"), false);
  }
}

void CDlgPLC_CFG::SetStatus(const QString& text, bool error) {
  status_->setText(text);
  status_->setStyleSheet(error ? QStringLiteral("color: #c02020;") : QString());
}

}  // namespace plc
