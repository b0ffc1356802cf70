#include "ui/SettingsDialogs.h"

#include <QColorDialog>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFontDatabase>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTableWidget>
#include <QVBoxLayout>
#include <cstdio>

#include "ui/CCellView.h"
#include "ui/Dialogs.h"

namespace fennik {
namespace {

QString Q(const char* utf8) { return QString::fromUtf8(utf8); }

QDialogButtonBox* Buttons(QDialog* dialog, int language) {
  auto* box = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, dialog);
  box->button(QDialogButtonBox::Cancel)->setText(Q(Text(language, "Cancel", "キャンセル")));
  QObject::connect(box, &QDialogButtonBox::accepted, dialog, &QDialog::accept);
  QObject::connect(box, &QDialogButtonBox::rejected, dialog, &QDialog::reject);
  return box;
}

uint32_t ToBgr(const QColor& c) {
  return static_cast<uint32_t>(c.red()) | (static_cast<uint32_t>(c.green()) << 8) |
         (static_cast<uint32_t>(c.blue()) << 16);
}

QString Ipv4(uint32_t a, uint16_t port) {
  char text[40];
  std::snprintf(text, sizeof text, "%u.%u.%u.%u (%u)", a >> 24, (a >> 16) & 0xFF, (a >> 8) & 0xFF, a & 0xFF, port);
  return QString::fromLatin1(text);
}

}  // namespace

CSelectViewDialog::CSelectViewDialog(const std::vector<QString>& names, int current, int language, QWidget* parent)
    : QDialog(parent) {
  setWindowTitle(Q(Text(language, "Select View", "表示画面の切り替え")));
  auto* layout = new QVBoxLayout(this);
  list_ = new QListWidget(this);
  for (const QString& name : names) list_->addItem(name);
  list_->setCurrentRow(current >= 0 && current < list_->count() ? current : 0);
  layout->addWidget(list_);
  layout->addWidget(Buttons(this, language));
  connect(list_, &QListWidget::itemDoubleClicked, this, &QDialog::accept);
  resize(520, 320);
}

int CSelectViewDialog::Selected() const { return list_->currentRow(); }

CColorDialog::CColorDialog(const ColorArray& colors, int language, QWidget* parent)
    : QDialog(parent), colors_(colors) {
  setWindowTitle(Q(Text(language, "Color Setting", "表示色の設定")));
  auto* layout = new QVBoxLayout(this);
  list_ = new QListWidget(this);
  for (const ColorName& name : ColorNames()) {
    auto* item = new QListWidgetItem(name.index < 0 ? QStringLiteral("----------------")
                                                    : Q(language == 1 ? name.japanese : name.english));
    item->setData(Qt::UserRole, name.index);
    if (name.index < 0) item->setFlags(Qt::NoItemFlags);
    list_->addItem(item);
  }
  layout->addWidget(list_);
  sample_ = new QLabel(QStringLiteral("  0123456789 ABCDEF abcdef  "), this);
  sample_->setAutoFillBackground(true);
  layout->addWidget(sample_);
  auto* row = new QHBoxLayout;
  auto* text = new QPushButton(Q(Text(language, "Text Color...", "文字色...")), this);
  auto* back = new QPushButton(Q(Text(language, "Background Color...", "背景色...")), this);
  row->addWidget(text);
  row->addWidget(back);
  layout->addLayout(row);
  layout->addWidget(Buttons(this, language));
  auto choose = [this](bool background) {
    const int index = list_->currentItem() ? list_->currentItem()->data(Qt::UserRole).toInt() : -1;
    if (index < 0) return;
    const ColorPair& pair = colors_[static_cast<size_t>(index)];
    const QColor c = QColorDialog::getColor(CellColor(background ? pair.background : pair.text), this);
    if (c.isValid()) SetSelectedColor(background, ToBgr(c));
  };
  connect(text, &QPushButton::clicked, this, [choose] { choose(false); });
  connect(back, &QPushButton::clicked, this, [choose] { choose(true); });
  connect(list_, &QListWidget::currentRowChanged, this, [this] { ShowSample(); });
  list_->setCurrentRow(0);
  resize(420, 520);
}

void CColorDialog::SetSelectedColor(bool background, uint32_t bgr) {
  const int index = list_->currentItem() ? list_->currentItem()->data(Qt::UserRole).toInt() : -1;
  if (index < 0 || index >= kColorCount) return;
  ColorPair& pair = colors_[static_cast<size_t>(index)];
  (background ? pair.background : pair.text) = bgr;
  ShowSample();
}

void CColorDialog::ShowSample() {
  const int index = list_->currentItem() ? list_->currentItem()->data(Qt::UserRole).toInt() : -1;
  if (index < 0 || index >= kColorCount) return;
  QPalette palette = sample_->palette();
  palette.setColor(QPalette::Window, CellColor(colors_[static_cast<size_t>(index)].background));
  palette.setColor(QPalette::WindowText, CellColor(colors_[static_cast<size_t>(index)].text));
  sample_->setPalette(palette);
}

CFontDialog::CFontDialog(const std::string& name, int size, int language, QWidget* parent) : QDialog(parent) {
  setWindowTitle(Q(Text(language, "Font Setting", "フォントの設定")));
  auto* layout = new QFormLayout(this);
  face_ = new QComboBox(this);
  face_->addItem(Q(Text(language, "(default)", "(既定)")), QString());
  for (const QString& family : QFontDatabase::families()) {
    if (QFontDatabase::isFixedPitch(family)) face_->addItem(family, family);
  }
  const int found = face_->findData(QString::fromStdString(name));
  if (found >= 0) {
    face_->setCurrentIndex(found);
  } else if (!name.empty()) {
    face_->addItem(QString::fromStdString(name), QString::fromStdString(name));
    face_->setCurrentIndex(face_->count() - 1);
  }
  size_ = new QSpinBox(this);
  size_->setRange(0, 72);
  size_->setSpecialValueText(Q(Text(language, "(default)", "(既定)")));
  size_->setValue(size);
  layout->addRow(Q(Text(language, "Font", "フォント")), face_);
  layout->addRow(Q(Text(language, "Size", "サイズ")), size_);
  layout->addRow(Buttons(this, language));
}

std::string CFontDialog::FontName() const { return face_->currentData().toString().toStdString(); }
int CFontDialog::FontSize() const { return size_->value(); }

COtherSettingsDialog::COtherSettingsDialog(uint32_t limitMb, int language, QWidget* parent) : QDialog(parent) {
  setWindowTitle(Q(Text(language, "Other Settings", "その他の設定")));
  auto* layout = new QFormLayout(this);
  limit_ = new QSpinBox(this);
  limit_->setRange(1, 20);
  limit_->setSuffix(QStringLiteral(" MB"));
  limit_->setValue(static_cast<int>(limitMb));
  layout->addRow(Q(Text(language, "File loading limit", "ファイルの読込み制限")), limit_);
  layout->addRow(Buttons(this, language));
}

uint32_t COtherSettingsDialog::LimitMb() const { return static_cast<uint32_t>(limit_->value()); }

CSDPInputDialog::CSDPInputDialog(const SdpText& text, int language, QWidget* parent) : QDialog(parent) {
  setWindowTitle(QStringLiteral("Input SDP"));
  auto* layout = new QFormLayout(this);
  title_ = new QLineEdit(QString::fromStdString(text.title), this);
  title_->setMaxLength(4095);
  body_ = new QPlainTextEdit(QString::fromStdString(text.body), this);
  body_->setPlaceholderText(Q(fennik::Text(language, "SDP text, or one line per payload type: 96=H264/90000, 97=opus/48000/2",
                                        "SDP テキスト、またはペイロードタイプごとに 1 行: 96=H264/90000、97=opus/48000/2")));
  layout->addRow(Q(fennik::Text(language, "Title", "タイトル")), title_);
  layout->addRow(QStringLiteral("SDP"), body_);
  layout->addRow(Buttons(this, language));
}

SdpText CSDPInputDialog::Text() const {
  return {title_->text().toStdString(), body_->toPlainText().left(4095).toStdString()};
}

void CSDPInputDialog::accept() {
  if (title_->text().isEmpty() || body_->toPlainText().isEmpty()) return;  // stays open
  QDialog::accept();
}

CSDPSettingDialog::CSDPSettingDialog(std::vector<SdpText> list, int language, QWidget* parent)
    : QDialog(parent), language_(language), list_(std::move(list)) {
  setWindowTitle(QStringLiteral("SDP Setting"));
  auto* layout = new QVBoxLayout(this);
  auto* panes = new QHBoxLayout;
  titles_ = new QListWidget(this);
  for (const SdpText& e : list_) titles_->addItem(QString::fromStdString(e.title));
  body_ = new QPlainTextEdit(this);
  body_->setReadOnly(true);
  panes->addWidget(titles_, 1);
  panes->addWidget(body_, 2);
  layout->addLayout(panes);
  auto* buttons = new QHBoxLayout;
  auto* add = new QPushButton(Q(Text(language, "Add", "追加")), this);
  auto* modify = new QPushButton(Q(Text(language, "Modify", "変更")), this);
  auto* remove = new QPushButton(Q(Text(language, "Delete", "削除")), this);
  buttons->addWidget(add);
  buttons->addWidget(modify);
  buttons->addWidget(remove);
  layout->addLayout(buttons);
  layout->addWidget(Buttons(this, language));
  connect(titles_, &QListWidget::currentRowChanged, this, [this] { ShowSelected(); });
  connect(add, &QPushButton::clicked, this, [this] {
    CSDPInputDialog input({}, language_, this);
    if (RunDialog(input)) Add(input.Text());
  });
  connect(modify, &QPushButton::clicked, this, [this] {
    const int row = titles_->currentRow();
    if (row < 0) return;
    CSDPInputDialog input(list_[static_cast<size_t>(row)], language_, this);
    if (RunDialog(input)) Modify(input.Text());
  });
  connect(remove, &QPushButton::clicked, this, [this] { Delete(); });
  if (!list_.empty()) titles_->setCurrentRow(0);
  ShowSelected();
  resize(640, 400);
}

void CSDPSettingDialog::ShowSelected() {
  const int row = titles_->currentRow();
  body_->setPlainText(row >= 0 && static_cast<size_t>(row) < list_.size()
                          ? QString::fromStdString(list_[static_cast<size_t>(row)].body)
                          : QString());
}

void CSDPSettingDialog::Add(const SdpText& text) {
  list_.push_back(text);
  titles_->addItem(QString::fromStdString(text.title));
  titles_->setCurrentRow(titles_->count() - 1);
  ShowSelected();
}

void CSDPSettingDialog::Modify(const SdpText& text) {
  const int row = titles_->currentRow();
  if (row < 0) return;
  list_[static_cast<size_t>(row)] = text;
  titles_->item(row)->setText(QString::fromStdString(text.title));
  ShowSelected();
}

void CSDPSettingDialog::Delete() {
  const int row = titles_->currentRow();
  if (row < 0) return;
  list_.erase(list_.begin() + row);
  delete titles_->takeItem(row);
  // The entry now at the same position, or the last one when the deleted one was last.
  titles_->setCurrentRow(list_.empty() ? -1 : std::min(row, static_cast<int>(list_.size()) - 1));
  ShowSelected();
}

CSDPSelectDialog::CSDPSelectDialog(std::vector<SdpStreamRow> rows, std::vector<SdpText> list, int language,
                                   QWidget* parent)
    : QDialog(parent), rows_(std::move(rows)), list_(std::move(list)) {
  setWindowTitle(QStringLiteral("Select SDP"));
  auto* layout = new QVBoxLayout(this);
  table_ = new QTableWidget(static_cast<int>(rows_.size()), 3, this);
  table_->setHorizontalHeaderLabels({QStringLiteral("IP Address"), QStringLiteral("SDP"), QStringLiteral("SDP(Value)")});
  table_->setColumnWidth(0, 130);
  table_->setColumnWidth(1, 80);
  table_->setColumnWidth(2, 150);
  table_->setSelectionBehavior(QAbstractItemView::SelectRows);
  table_->setSelectionMode(QAbstractItemView::SingleSelection);
  table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  for (size_t i = 0; i < rows_.size(); ++i) {
    table_->setItem(static_cast<int>(i), 0, new QTableWidgetItem(Ipv4(rows_[i].sourceAddress, rows_[i].sourcePort)));
    table_->setItem(static_cast<int>(i), 1, new QTableWidgetItem());
    table_->setItem(static_cast<int>(i), 2, new QTableWidgetItem());
  }
  if (!rows_.empty()) table_->selectRow(0);
  layout->addWidget(table_);
  auto* chooseRow = new QHBoxLayout;
  chooser_ = new QComboBox(this);
  chooser_->addItem(QString());
  for (const SdpText& e : list_) chooser_->addItem(QString::fromStdString(e.title));
  auto* select = new QPushButton(Q(Text(language, "Select", "選択")), this);
  chooseRow->addWidget(new QLabel(QStringLiteral("SDP"), this));
  chooseRow->addWidget(chooser_, 1);
  chooseRow->addWidget(select);
  layout->addLayout(chooseRow);
  body_ = new QPlainTextEdit(this);
  body_->setPlaceholderText(Q(fennik::Text(language, "SDP text, or one line per payload type: 96=H264/90000, 97=opus/48000/2",
                                        "SDP テキスト、またはペイロードタイプごとに 1 行: 96=H264/90000、97=opus/48000/2")));
  layout->addWidget(body_);
  layout->addWidget(Buttons(this, language));
  connect(chooser_, &QComboBox::currentIndexChanged, this, [this](int index) {
    StoreBack();
    chosen_ = index;
    body_->setPlainText(QString::fromStdString(index <= 0 ? typed_ : list_[static_cast<size_t>(index) - 1].body));
  });
  connect(select, &QPushButton::clicked, this, [this] { Select(); });
  resize(520, 480);
}

void CSDPSelectDialog::StoreBack() {
  const std::string text = body_->toPlainText().toStdString();
  if (chosen_ <= 0) typed_ = text;
  else list_[static_cast<size_t>(chosen_) - 1].body = text;
}

void CSDPSelectDialog::Select() {
  StoreBack();
  const int row = table_->currentRow();
  if (row < 0 || static_cast<size_t>(row) >= rows_.size()) return;
  SdpStreamRow& r = rows_[static_cast<size_t>(row)];
  r.title = chooser_->currentText().toStdString();
  r.text = body_->toPlainText().toStdString();
  table_->item(row, 1)->setText(QString::fromStdString(r.title));
  table_->item(row, 2)->setText(QString::fromStdString(r.text));
}

void CSDPSelectDialog::accept() {
  StoreBack();
  QDialog::accept();
}

}  // namespace fennik
