#include "app/StreamAnalysisDialog.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QSplitter>
#include <QTabWidget>
#include <QTableWidget>
#include <QVBoxLayout>
#include <algorithm>

#include "capture/CRTP_Parser.h"
#include "capture/StreamAnalysis.h"
#include "ui/CBarChartView.h"
#include "ui/Dialogs.h"

namespace fennik {
namespace {

constexpr size_t kLossSlices = 100;
constexpr int kWidestColumn = 320;  // longer texts are cut; the cell's tooltip holds them
const QColor kWorstColour(255, 205, 205);

QString Q(const std::string& text) { return QString::fromStdString(text); }

// A cell that sorts by its number when it has one.
class CAnalysisItem : public QTableWidgetItem {
 public:
  explicit CAnalysisItem(const AnalysisCell& cell) : QTableWidgetItem(Q(cell.text)), numeric_(cell.numeric) {
    setData(Qt::UserRole, cell.value);
    setFlags(Qt::ItemIsSelectable | Qt::ItemIsEnabled);
    if (numeric_) setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
  }
  bool operator<(const QTableWidgetItem& other) const override {
    if (!numeric_) return QTableWidgetItem::operator<(other);
    return data(Qt::UserRole).toDouble() < other.data(Qt::UserRole).toDouble();
  }

 private:
  bool numeric_;
};

// `stretchLast`: the last column takes the width left over (a column of details).
QTableWidget* MakeTable(const AnalysisTable& content, bool stretchLast, QWidget* parent) {
  auto* table = new QTableWidget(static_cast<int>(content.rows.size()), static_cast<int>(content.titles.size()), parent);
  QStringList titles;
  for (const std::string& t : content.titles) titles << Q(t);
  table->setHorizontalHeaderLabels(titles);
  table->verticalHeader()->setVisible(false);
  table->setSelectionBehavior(QAbstractItemView::SelectRows);
  table->setSelectionMode(QAbstractItemView::SingleSelection);
  table->setEditTriggers(QAbstractItemView::NoEditTriggers);
  for (size_t r = 0; r < content.rows.size(); ++r) {
    for (size_t c = 0; c < content.rows[r].size(); ++c) {
      auto* item = new CAnalysisItem(content.rows[r][c]);
      item->setToolTip(item->text());
      if (content.highlighted[r]) {
        item->setBackground(kWorstColour);
        QFont bold = item->font();
        bold.setBold(true);
        item->setFont(bold);
      }
      if (c == 0) item->setData(CStreamAnalysisDialog::kStreamRole, content.streams[r]);
      table->setItem(static_cast<int>(r), static_cast<int>(c), item);
    }
  }
  table->setSortingEnabled(true);
  table->sortItems(0, Qt::AscendingOrder);
  table->resizeColumnsToContents();
  for (int c = 0; c < table->columnCount(); ++c) table->setColumnWidth(c, std::min(table->columnWidth(c), kWidestColumn));
  table->horizontalHeader()->setStretchLastSection(stretchLast);
  table->verticalHeader()->setDefaultSectionSize(table->fontMetrics().height() + 6);
  return table;
}

int RowStream(const QTableWidget* table, int row) {
  const QTableWidgetItem* item = row >= 0 ? table->item(row, 0) : nullptr;
  return item != nullptr ? item->data(CStreamAnalysisDialog::kStreamRole).toInt() : -1;
}

}  // namespace

CStreamAnalysisDialog::CStreamAnalysisDialog(const CRTP_Parser& capture, int language, QWidget* parent)
    : QDialog(parent), capture_(capture), language_(language) {
  setWindowTitle(QString::fromUtf8(Text(language, "Stream analysis", "ストリーム解析")));
  auto* layout = new QVBoxLayout(this);
  tabs_ = new QTabWidget(this);
  layout->addWidget(tabs_);

  // The streams: table and note above, the selected stream's charts below.
  auto* page = new QSplitter(Qt::Vertical, tabs_);
  auto* upper = new QWidget(page);
  auto* upperLayout = new QVBoxLayout(upper);
  upperLayout->setContentsMargins(0, 0, 0, 0);
  streams_ = MakeTable(StreamAnalysisTable(capture, language), false, upper);
  note_ = new QLabel(Q(StreamAnalysisNote(capture, language)), upper);
  note_->setWordWrap(true);
  upperLayout->addWidget(streams_);
  upperLayout->addWidget(note_);
  auto* charts = new QWidget(page);
  auto* chartLayout = new QHBoxLayout(charts);
  chartLayout->setContentsMargins(0, 0, 0, 0);
  loss_ = new CBarChartView(charts);
  jitter_ = new CBarChartView(charts);
  chartLayout->addWidget(loss_, 3);
  chartLayout->addWidget(jitter_, 2);
  page->addWidget(upper);
  page->addWidget(charts);
  page->setStretchFactor(0, 3);
  page->setStretchFactor(1, 2);
  tabs_->addTab(page, QString::fromUtf8(Text(language, "Streams", "ストリーム")));

  rtcp_ = MakeTable(RtcpAnalysisTable(capture, language), true, tabs_);
  tabs_->addTab(rtcp_, QStringLiteral("RTCP"));
  events_ = MakeTable(EventAnalysisTable(capture, language), false, tabs_);
  tabs_->addTab(events_, QString::fromUtf8(Text(language, "Telephone events", "電話イベント (DTMF)")));

  auto* buttons = new QHBoxLayout;
  auto* show = new QPushButton(QString::fromUtf8(Text(language, "Show packets", "パケットを表示")), this);
  auto* close = new QPushButton(QString::fromUtf8(Text(language, "Close", "閉じる")), this);
  buttons->addStretch(1);
  buttons->addWidget(show);
  buttons->addWidget(close);
  layout->addLayout(buttons);

  connect(streams_, &QTableWidget::currentCellChanged, this,
          [this](int row, int, int, int) { ShowStream(RowStream(streams_, row)); });
  for (QTableWidget* table : {streams_, rtcp_, events_}) {
    connect(table, &QTableWidget::cellDoubleClicked, this, [this, table](int row, int) { Choose(table, row); });
  }
  connect(show, &QPushButton::clicked, this, [this] {
    for (QTableWidget* table : {streams_, rtcp_, events_}) {
      if (tabs_->currentWidget()->isAncestorOf(table) || tabs_->currentWidget() == table) Choose(table, table->currentRow());
    }
  });
  connect(close, &QPushButton::clicked, this, &QDialog::reject);
  // The charts of the first highlighted stream, else of the first stream.
  int first = 0;
  while (first < streams_->rowCount() && streams_->item(first, kColQuality)->text().isEmpty()) ++first;
  if (streams_->rowCount() > 0) streams_->setCurrentCell(first < streams_->rowCount() ? first : 0, 0);
  else ShowStream(-1);
  resize(1280, 760);
}

void CStreamAnalysisDialog::ShowStream(int streamIndex) {
  if (streamIndex < 0 || static_cast<size_t>(streamIndex) >= capture_.Streams().size()) {
    loss_->SetChart({});
    jitter_->SetChart({});
    return;
  }
  const auto index = static_cast<uint32_t>(streamIndex);
  loss_->SetChart(LossChart(BuildLossTimeline(capture_, index, kLossSlices), language_));
  jitter_->SetChart(JitterHistogram(capture_.Statistics().Figures(index), language_));
}

void CStreamAnalysisDialog::Choose(const QTableWidget* table, int row) {
  chosen_ = RowStream(table, row);
  if (chosen_ >= 0) accept();
}

}  // namespace fennik
