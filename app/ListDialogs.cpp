#include "app/ListDialogs.h"

#include <QHBoxLayout>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>
#include <cinttypes>
#include <cstdio>

#include "app/Markers.h"
#include "capture/ErrorList.h"
#include "ui/CCellView.h"
#include "ui/Dialogs.h"

namespace fennik {
namespace {

QString Q(const char* utf8) { return QString::fromUtf8(utf8); }

QString Address(uint64_t address) {
  char text[32];
  std::snprintf(text, sizeof text, "0x%010" PRIX64, address);
  return QString::fromLatin1(text);
}

}  // namespace

CMarkerListDialog::CMarkerListDialog(int language, QWidget* parent) : QDialog(parent), language_(language) {
  setWindowTitle(Q(Text(language, "List of Marker", "マーカー一覧")));
  auto* layout = new QVBoxLayout(this);
  list_ = new QListWidget(this);
  layout->addWidget(list_);
  auto* buttons = new QHBoxLayout;
  jump_ = new QPushButton(Q(Text(language, "Jump", "ジャンプ")), this);
  delete_ = new QPushButton(Q(Text(language, "Delete", "削除")), this);
  deleteAll_ = new QPushButton(Q(Text(language, "All Delete", "全て削除")), this);
  auto* close = new QPushButton(Q(Text(language, "Close", "閉じる")), this);
  for (QPushButton* b : {jump_, delete_, deleteAll_, close}) buttons->addWidget(b);
  layout->addLayout(buttons);
  connect(jump_, &QPushButton::clicked, this, [this] { Jump(); });
  connect(list_, &QListWidget::itemDoubleClicked, this, [this] { Jump(); });
  connect(delete_, &QPushButton::clicked, this, [this] { Delete(); });
  connect(deleteAll_, &QPushButton::clicked, this, [this] { DeleteAll(); });
  connect(close, &QPushButton::clicked, this, &QDialog::reject);
  Fill();
}

void CMarkerListDialog::Fill() {
  list_->clear();
  const CMarkerTable& table = CMarkerTable::Instance();
  for (int i = 0; i < table.Count(); ++i) list_->addItem(Address(table.At(i).address));
  if (list_->count() > 0) list_->setCurrentRow(0);
  const bool any = list_->count() > 0;
  jump_->setEnabled(any);
  delete_->setEnabled(any);
  deleteAll_->setEnabled(any);
}

void CMarkerListDialog::Jump() {
  if (list_->currentRow() < 0) return;
  chosen_ = list_->currentRow();
  accept();
}

void CMarkerListDialog::Delete() {
  const int row = list_->currentRow();
  if (row < 0) return;
  CMarkerTable::Instance().Remove(row);
  Fill();
}

void CMarkerListDialog::DeleteAll() {
  if (!ShowMessage(this, MessageKind::kQuestion, Q(Text(language_, "List of Marker", "マーカー一覧")),
                   Q(Text(language_, "Delete all ?", "全て削除しますか？")))) {
    return;
  }
  CMarkerTable::Instance().Clear();
  Fill();
}

CErrorListDialog::CErrorListDialog(int language, QWidget* parent) : QDialog(parent) {
  setWindowTitle(Q(Text(language, "List of Error", "エラー一覧")));
  auto* layout = new QVBoxLayout(this);
  list_ = new QListWidget(this);
  QFont fixed = list_->font();
  fixed.setFamily(QStringLiteral("monospace"));
  fixed.setStyleHint(QFont::TypeWriter);
  list_->setFont(fixed);
  const ErrorList& errors = ErrorList::Instance();
  for (int i = 0; i < ErrorList::kEntries; ++i) {
    if (!errors.IsUsed(i)) continue;
    const ErrorListEntry& e = errors.At(i);
    char text[128];
    std::snprintf(text, sizeof text, "0x%010" PRIX64 "  %10u  %5u  ", e.fileOffset, e.packetNumber, e.streamIndex + 1);
    auto* item = new QListWidgetItem(QString::fromLatin1(text) + Q(ErrorText(e.errorCode, language)));
    item->setData(Qt::UserRole, i);
    list_->addItem(item);
  }
  if (list_->count() > 0) list_->setCurrentRow(0);
  layout->addWidget(list_);
  auto* buttons = new QHBoxLayout;
  auto* jump = new QPushButton(Q(Text(language, "Jump", "ジャンプ")), this);
  auto* close = new QPushButton(Q(Text(language, "Close", "閉じる")), this);
  jump->setEnabled(list_->count() > 0);
  buttons->addWidget(jump);
  buttons->addWidget(close);
  layout->addLayout(buttons);
  connect(jump, &QPushButton::clicked, this, [this] { Jump(); });
  connect(list_, &QListWidget::itemDoubleClicked, this, [this] { Jump(); });
  connect(close, &QPushButton::clicked, this, &QDialog::reject);
  resize(560, 360);
}

void CErrorListDialog::Jump() {
  if (list_->currentItem() == nullptr) return;
  chosen_ = list_->currentItem()->data(Qt::UserRole).toInt();
  accept();
}

}  // namespace fennik
