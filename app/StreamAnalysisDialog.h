// "Stream analysis": the call-quality figures of every RTP stream in a sortable table with
// the worst streams highlighted, the selected stream's loss chart and jitter histogram, and
// tabs with the RTCP reports and the telephone events. The content comes from
// capture/StreamAnalysis; a double-click on a row (or "Show packets") ends the dialog with
// the row's stream, which the main window then lists.
#pragma once

#include <QDialog>

class QLabel;
class QTabWidget;
class QTableWidget;

namespace fennik {

class CBarChartView;
class CRTP_Parser;

class CStreamAnalysisDialog : public QDialog {
 public:
  // Where a table keeps each row's stream index (-1: none), in its first column's item.
  static constexpr int kStreamRole = Qt::UserRole + 1;

  CStreamAnalysisDialog(const CRTP_Parser& capture, int language, QWidget* parent = nullptr);

  QTabWidget* Tabs() const { return tabs_; }
  QTableWidget* StreamTable() const { return streams_; }
  QTableWidget* RtcpTable() const { return rtcp_; }
  QTableWidget* EventTable() const { return events_; }
  CBarChartView* LossView() const { return loss_; }
  CBarChartView* JitterView() const { return jitter_; }
  QLabel* Note() const { return note_; }
  // The charts of stream `streamIndex`.
  void ShowStream(int streamIndex);
  // The stream the dialog ended with (-1: none).
  int Chosen() const { return chosen_; }

 private:
  // Ends the dialog with the stream of a table's row, when it names one.
  void Choose(const QTableWidget* table, int row);

  const CRTP_Parser& capture_;
  int language_;
  int chosen_ = -1;
  QTabWidget* tabs_;
  QTableWidget* streams_;
  QTableWidget* rtcp_;
  QTableWidget* events_;
  CBarChartView* loss_;
  CBarChartView* jitter_;
  QLabel* note_;
};

}  // namespace fennik
