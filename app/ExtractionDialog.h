// "Extraction of Stream": method (RAW or AVI), the streams, the packet range (with the
// marker list as a source of packet numbers) and the output file; and the job that runs
// the filled request on the worker.
#pragma once

#include <QDialog>
#include <atomic>
#include <memory>
#include <vector>

#include "capture/CStreamExtractor.h"
#include "playback/WorkerMessage.h"

class QComboBox;
class QLineEdit;

namespace fennik {

class CRTP_Parser;

class CExtractionRTPDialog : public QDialog {
 public:
  CExtractionRTPDialog(const CRTP_Parser& capture, int language, QWidget* parent = nullptr);

  QComboBox* Method() const { return method_; }
  QComboBox* FirstList() const { return lists_[0]; }
  QComboBox* SecondList() const { return lists_[1]; }
  QLineEdit* StartField() const { return start_; }
  QLineEdit* EndField() const { return end_; }
  QLineEdit* FileField() const { return file_; }
  const ExtractionRequest& Request() const { return request_; }
  // "Start": checks the entries and ends the dialog with the request filled.
  void accept() override;

 private:
  void FillLists();
  void PickMarker(QLineEdit* field);

  const CRTP_Parser& capture_;
  int language_;
  QComboBox* method_;
  QComboBox* lists_[2];
  QLineEdit* start_;
  QLineEdit* end_;
  QLineEdit* file_;
  ExtractionRequest request_;
};

// The extraction as a worker job; Cancel of the progress dialog sets its flag.
class CExtractionJob : public CExtractionRequest {
 public:
  explicit CExtractionJob(ExtractionRequest request) : request_(std::move(request)) {}
  int Run(CRTP_Parser& capture, CAvEventListener* progress) override;
  void Cancel() { cancel_ = true; }
  const ExtractionResult& Result() const { return result_; }

 private:
  ExtractionRequest request_;
  ExtractionResult result_;
  std::atomic<bool> cancel_{false};
};

}  // namespace fennik
