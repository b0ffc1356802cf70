#include "app/ExtractionDialog.h"

#include "base/IpAddress.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QFile>
#include <QFileDialog>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>
#include <cstdio>

#include "app/ListDialogs.h"
#include "app/Markers.h"
#include "capture/RtpViews.h"
#include "capture/CRTP_Parser.h"
#include "media/CMediaFile.h"
#include "ui/Dialogs.h"
#include "ui/Navigation.h"

namespace fennik {
namespace {

QString Q(const char* utf8) { return QString::fromUtf8(utf8); }

QString StreamLabel(const RtpStreamEntry& s) {
  char text[80];
  const IpText address = FormatIpAddress(s.sourceAddress);
  std::snprintf(text, sizeof text, IsIpv6Handle(s.sourceAddress) ? "[%s]:%u" : "%s:%u", address.text,
                s.sourcePort);
  QString label = QString::fromLatin1(text);
  const std::string name(s.encodingName, strnlen(s.encodingName, sizeof s.encodingName));
  if (!name.empty()) label += QStringLiteral(" (%1)").arg(QString::fromStdString(name));
  return label;
}

// Range fields: leading blanks and tabs, an optional minus sign, then digits only.
bool ParseRangeField(const QString& text, int64_t& value) {
  std::string s = text.toStdString();
  size_t i = 0;
  while (i < s.size() && (s[i] == ' ' || s[i] == '\t')) ++i;
  return ParseSignedDecimal(std::string_view(s).substr(i), value);
}

class ProgressBridge : public CExtractionListener {
 public:
  ProgressBridge(CAvEventListener* progress, const std::atomic<bool>& cancel) : progress_(progress), cancel_(cancel) {}
  void OnProgress(uint64_t done, uint64_t total) override {
    if (progress_ != nullptr) progress_->OnProgress(done, total);
  }
  bool IsCancelled() const override { return cancel_.load(); }

 private:
  CAvEventListener* progress_;
  const std::atomic<bool>& cancel_;
};

}  // namespace

CExtractionRTPDialog::CExtractionRTPDialog(const CRTP_Parser& capture, int language, QWidget* parent)
    : QDialog(parent), capture_(capture), language_(language) {
  setWindowTitle(Q(Text(language, "Extraction of Stream", "ストリームの抽出")));
  auto* layout = new QVBoxLayout(this);
  auto* form = new QFormLayout;
  method_ = new QComboBox(this);
  method_->addItem(QStringLiteral("RAW format"), 0);
  method_->addItem(QStringLiteral("AVI format"), 1);
  form->addRow(Q(Text(language, "Extraction Method", "抽出方法")), method_);
  lists_[0] = new QComboBox(this);
  lists_[1] = new QComboBox(this);
  form->addRow(Q(Text(language, "Select Stream", "ストリームの選択")), lists_[0]);
  form->addRow(QString(), lists_[1]);
  layout->addLayout(form);

  auto* range = new QGroupBox(Q(Text(language, "Range of Extraction", "抽出範囲")), this);
  auto* rangeForm = new QFormLayout(range);
  start_ = new QLineEdit(range);
  end_ = new QLineEdit(range);
  for (QLineEdit* field : {start_, end_}) {
    auto* row = new QHBoxLayout;
    auto* pick = new QPushButton(QStringLiteral("..."), range);
    row->addWidget(field, 1);
    row->addWidget(pick);
    rangeForm->addRow(field == start_ ? Q(Text(language, "Start Point", "開始位置")) : Q(Text(language, "End Point", "終了位置")),
                      row);
    connect(pick, &QPushButton::clicked, this, [this, field] { PickMarker(field); });
  }
  layout->addWidget(range);

  auto* fileRow = new QHBoxLayout;
  file_ = new QLineEdit(this);
  auto* browse = new QPushButton(QStringLiteral("..."), this);
  fileRow->addWidget(file_, 1);
  fileRow->addWidget(browse);
  auto* fileForm = new QFormLayout;
  fileForm->addRow(Q(Text(language, "Output File Name", "出力ファイル名")), fileRow);
  layout->addLayout(fileForm);
  connect(browse, &QPushButton::clicked, this, [this] {
    const QString name = QFileDialog::getSaveFileName(this, windowTitle(), file_->text());
    if (!name.isEmpty()) file_->setText(name);
  });

  auto* buttons = new QDialogButtonBox(this);
  buttons->addButton(Q(Text(language, "Start", "開始")), QDialogButtonBox::AcceptRole);
  buttons->addButton(Q(Text(language, "Close", "閉じる")), QDialogButtonBox::RejectRole);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  layout->addWidget(buttons);
  connect(method_, &QComboBox::currentIndexChanged, this, [this] { FillLists(); });
  FillLists();
  resize(480, 320);
}

void CExtractionRTPDialog::FillLists() {
  const bool avi = method_->currentData().toInt() == 1;
  for (QComboBox* list : lists_) list->clear();
  const auto& streams = capture_.Streams();
  for (size_t i = 0; i < streams.size() && i < kMaxStreamPages; ++i) {
    const RtpStreamEntry& s = streams[i];
    const uint32_t id = static_cast<uint32_t>(i) + 1;
    if (!avi) {
      lists_[0]->addItem(StreamLabel(s), id);
      continue;
    }
    // AVI: streams AVI can hold, audio in the first list, the others in the second.
    MediaAudioFormat audio;
    if (s.mediaKind == 1) {
      if (CStreamExtractor::AviAudioFormat(s, audio)) lists_[0]->addItem(StreamLabel(s), id);
    } else if (CStreamExtractor::IsVideoStream(s)) {
      lists_[1]->addItem(StreamLabel(s), id);
    }
  }
  lists_[1]->setEnabled(avi);
  if (avi) {
    // Either stream may be left out.
    for (QComboBox* list : lists_) list->insertItem(0, QStringLiteral("-"), kNoStreamId);
    for (QComboBox* list : lists_) list->setCurrentIndex(list->count() > 1 ? 1 : 0);
  }
}

void CExtractionRTPDialog::PickMarker(QLineEdit* field) {
  CMarkerListDialog markers(language_, this);
  if (RunDialog(markers) && markers.Chosen() >= 0) {
    field->setText(QString::number(CMarkerTable::Instance().At(markers.Chosen()).keys[0]));
  }
}

void CExtractionRTPDialog::accept() {
  const QString caption = Q(Text(language_, "Extraction File", "ストリームの抽出"));
  int64_t start = 0, end = 0;
  request_.method = static_cast<uint32_t>(method_->currentData().toInt());
  request_.streamIds[0] = lists_[0]->count() ? lists_[0]->currentData().toUInt() : kNoStreamId;
  request_.streamIds[1] = request_.method == 1 && lists_[1]->count() ? lists_[1]->currentData().toUInt() : kNoStreamId;
  if (!ParseRangeField(start_->text(), start) || !ParseRangeField(end_->text(), end) || start >= end ||
      start < INT32_MIN || end > INT32_MAX) {
    ShowMessage(this, MessageKind::kWarning, caption,
                Q(Text(language_, "Start position or end position is wrong", "開始位置または終了位置が正しくありません")));
    return;
  }
  if (file_->text().isEmpty()) {
    ShowMessage(this, MessageKind::kWarning, caption,
                Q(Text(language_, "Please select output file", "出力ファイル名を指定してください")));
    return;
  }
  if (QFile::exists(file_->text())) {
    const QString question = Q(Text(language_, "%1 has already existed, overwrite ?", "%1 は既に存在しています。\n上書きしますか？"))
                                 .arg(file_->text());
    if (!ShowMessage(this, MessageKind::kQuestion, caption, question)) return;
  }
  request_.start = static_cast<int32_t>(start);
  request_.end = static_cast<int32_t>(end);
  request_.fileName = file_->text().toStdString();
  request_.replace = true;
  QDialog::accept();
}

int CExtractionJob::Run(CRTP_Parser& capture, CAvEventListener* progress) {
  ProgressBridge bridge(progress, cancel_);
  CStreamExtractor extractor(capture);
  result_ = extractor.Extract(request_, &bridge);
  return result_.Ok() ? 1 : 0;
}

}  // namespace fennik
