#include "ui/CHexView.h"

#include <QHBoxLayout>
#include <QLineEdit>
#include <QToolButton>
#include <QVBoxLayout>

#include "ui/CInfoView.h"
#include "ui/Navigation.h"

namespace fennik {

CHexView::CHexView(const ViewStyle* style, QWidget* parent) : QWidget(parent) {
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);
  auto* bar = new QHBoxLayout;
  bar->setContentsMargins(12, 4, 4, 4);
  auto* forward = new QToolButton(this);
  forward->setText(QStringLiteral("▲"));
  address_ = new QLineEdit(this);
  address_->setFixedWidth(150);
  auto* back = new QToolButton(this);
  back->setText(QStringLiteral("▼"));
  bar->addWidget(forward);
  bar->addWidget(address_);
  bar->addWidget(back);
  bar->addStretch();
  layout->addLayout(bar);
  dump_ = new CInfoView(style, this);
  layout->addWidget(dump_, 1);
  connect(forward, &QToolButton::clicked, this, [this] {
    if (model_ && model_->Forward()) Reload();
  });
  connect(back, &QToolButton::clicked, this, [this] {
    if (model_ && model_->Back()) Reload();
  });
  connect(address_, &QLineEdit::editingFinished, this, [this] { TakeTypedAddress(); });
}

CHexView::~CHexView() = default;

void CHexView::SetFile(CBinaryModel::Reader reader, uint64_t fileSize) {
  model_ = std::make_unique<CBinaryModel>(std::move(reader), fileSize);
  ShowAddress(0);
}

bool CHexView::ShowAddress(uint64_t address) {
  if (!model_ || !model_->Load(address)) return false;
  Reload();
  return true;
}

void CHexView::Reload() {
  address_->setText(QString::fromStdString(FormatHexAddress(model_->Address())));
  dump_->SetRows(model_->Rows());
}

void CHexView::TakeTypedAddress() {
  uint64_t address = 0;
  if (!model_) return;
  // Typed like the jump dialog's addresses: hexadecimal, "0x" optional, blanks around.
  if (!ParseAddressEntry(address_->text().toStdString(), address) || !ShowAddress(address)) {
    // An address that cannot be shown leaves the view where it was.
    address_->setText(QString::fromStdString(FormatHexAddress(model_->Address())));
  }
}

void CHexView::StyleChanged() { dump_->StyleChanged(); }

}  // namespace fennik
