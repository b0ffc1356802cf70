#include "ui/Dialogs.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QFile>
#include <QFileDialog>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

#include "ui/Navigation.h"

namespace fennik {
namespace {

MessageHook& Hook() {
  static MessageHook hook;
  return hook;
}

QString Q(const char* utf8) { return QString::fromUtf8(utf8); }

QDialogButtonBox* OkCancel(QDialog* dialog, int language) {
  auto* box = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, dialog);
  box->button(QDialogButtonBox::Cancel)->setText(Q(Text(language, "Cancel", "キャンセル")));
  QObject::connect(box, &QDialogButtonBox::accepted, dialog, &QDialog::accept);
  QObject::connect(box, &QDialogButtonBox::rejected, dialog, &QDialog::reject);
  return box;
}

}  // namespace

void SetMessageHook(MessageHook hook) { Hook() = std::move(hook); }

namespace {
DialogHook& DialogHookSlot() {
  static DialogHook hook;
  return hook;
}
}  // namespace

void SetDialogHook(DialogHook hook) { DialogHookSlot() = std::move(hook); }

bool RunDialog(QDialog& dialog) {
  if (DialogHookSlot()) {
    dialog.setResult(QDialog::Rejected);
    DialogHookSlot()(dialog);
    return dialog.result() == QDialog::Accepted;
  }
  return dialog.exec() == QDialog::Accepted;
}

bool ShowMessage(QWidget* parent, MessageKind kind, const QString& caption, const QString& text) {
  if (Hook()) return Hook()(kind, caption, text);
  switch (kind) {
    case MessageKind::kInformation: QMessageBox::information(parent, caption, text); return true;
    case MessageKind::kWarning: QMessageBox::warning(parent, caption, text); return true;
    case MessageKind::kQuestion:
      return QMessageBox::question(parent, caption, text, QMessageBox::Yes | QMessageBox::No, QMessageBox::No) ==
             QMessageBox::Yes;
  }
  return false;
}

CCsvFileDialog::CCsvFileDialog(int language, QWidget* parent) : QDialog(parent), language_(language) {
  setWindowTitle(Q(Text(language, "Output CSV File", "CSVファイル出力")));
  auto* layout = new QVBoxLayout(this);
  auto* range = new QGroupBox(Q(Text(language, "Range", "範囲")), this);
  auto* form = new QFormLayout(range);
  start_ = new QLineEdit(range);
  end_ = new QLineEdit(range);
  form->addRow(Q(Text(language, "Start", "開始")), start_);
  form->addRow(Q(Text(language, "End", "終了")), end_);
  layout->addWidget(range);
  auto* fileRow = new QHBoxLayout;
  file_ = new QLineEdit(this);
  auto* browse = new QPushButton(QStringLiteral("..."), this);
  fileRow->addWidget(file_, 1);
  fileRow->addWidget(browse);
  layout->addLayout(fileRow);
  layout->addWidget(OkCancel(this, language));
  connect(browse, &QPushButton::clicked, this, [this] {
    const QString name = QFileDialog::getSaveFileName(
        this, windowTitle(), file_->text(), Q(Text(language_, "CSV files(*.csv)", "CSVファイル(*.csv)")));
    if (!name.isEmpty()) file_->setText(name.endsWith(QStringLiteral(".csv"), Qt::CaseInsensitive) ? name : name + ".csv");
  });
}

std::string CCsvFileDialog::FileName() const { return file_->text().toStdString(); }

void CCsvFileDialog::accept() {
  const QString caption = Q(Text(language_, "CSV File", "CSVファイル出力"));
  switch (CheckCsvEntry(start_->text().toStdString(), end_->text().toStdString(), FileName(), first_, last_)) {
    case CsvEntryCheck::kBadRange:
      ShowMessage(this, MessageKind::kWarning, caption,
                  Q(Text(language_, "Start position or end position is wrong", "開始位置または終了位置が正しくありません")));
      return;
    case CsvEntryCheck::kNoFileName:
      ShowMessage(this, MessageKind::kWarning, caption,
                  Q(Text(language_, "Please select CSV file", "出力するCSVファイル名を指定してください")));
      return;
    case CsvEntryCheck::kOk: break;
  }
  if (QFile::exists(file_->text())) {
    const QString question = Q(Text(language_, "%1 has already existed, overwrite ?", "%1 は既に存在しています。\n上書きしますか？"))
                                 .arg(file_->text());
    if (!ShowMessage(this, MessageKind::kQuestion, caption, question)) return;
  }
  QDialog::accept();
}

CEntryDialog::CEntryDialog(const QString& title, int mode, int language, QWidget* parent) : QDialog(parent) {
  setWindowTitle(title);
  auto* layout = new QVBoxLayout(this);
  auto* modes = new QHBoxLayout;
  number_ = new QRadioButton(Q(Text(language, "Number", "番号")), this);
  address_ = new QRadioButton(Q(Text(language, "Address", "アドレス")), this);
  (mode == kAddress ? address_ : number_)->setChecked(true);
  modes->addWidget(number_);
  modes->addWidget(address_);
  layout->addLayout(modes);
  field_ = new QLineEdit(this);
  field_->setMaxLength(64);
  layout->addWidget(field_);
  layout->addWidget(OkCancel(this, language));
}

int CEntryDialog::Mode() const { return address_->isChecked() ? kAddress : kNumber; }

void CEntryDialog::accept() {
  const std::string text = field_->text().toStdString();
  const bool ok = Mode() == kAddress ? ParseAddressEntry(text, value_) : ParseNumberEntry(text, value_);
  if (!ok) {
    field_->clear();
    return;
  }
  QDialog::accept();
}

CChooseLanguageDialog::CChooseLanguageDialog(int initial, int language, QWidget* parent) : QDialog(parent) {
  setWindowTitle(Q(Text(language, "Choose Language", "言語設定")));
  auto* layout = new QVBoxLayout(this);
  combo_ = new QComboBox(this);
  combo_->addItem(QStringLiteral("English"));
  combo_->addItem(QStringLiteral("Japanese"));
  combo_->setCurrentIndex(initial == 1 ? 1 : 0);
  layout->addWidget(combo_);
  layout->addWidget(OkCancel(this, language));
}

int CChooseLanguageDialog::Choice() const { return combo_->currentIndex() == 1 ? 1 : 0; }

CAboutDialogX::CAboutDialogX(const QString& version, const QString& notices, int language, QWidget* parent)
    : QDialog(parent) {
  setWindowTitle(Q(Text(language, "About Fennik", "バージョン情報")));
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(new QLabel(QStringLiteral("Fennik"), this));
  layout->addWidget(new QLabel(QStringLiteral("Version %1").arg(version), this));
  layout->addWidget(new QLabel(QStringLiteral("64bit edition"), this));
  auto* text = new QPlainTextEdit(QString(notices).replace(QLatin1String("\r\n"), QLatin1String("\n")), this);
  text->setReadOnly(true);
  layout->addWidget(text);
  auto* box = new QDialogButtonBox(QDialogButtonBox::Ok, this);
  connect(box, &QDialogButtonBox::accepted, this, &QDialog::accept);
  layout->addWidget(box);
}

}  // namespace fennik
