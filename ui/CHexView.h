// The hex dump view: a 16,384-byte window of the capture file with its control bar ("▲",
// the address field, "▼").
#pragma once

#include <QWidget>
#include <memory>

#include "view/CHexDump.h"

class QLineEdit;

namespace fennik {

class CInfoView;
struct ViewStyle;

class CHexView : public QWidget {
 public:
  CHexView(const ViewStyle* style, QWidget* parent = nullptr);
  ~CHexView() override;

  void SetFile(CBinaryModel::Reader reader, uint64_t fileSize);
  // Shows the window at `address`; false (nothing changes) at or beyond the file's end.
  bool ShowAddress(uint64_t address);
  uint64_t Address() const { return model_ ? model_->Address() : 0; }
  CInfoView* Dump() const { return dump_; }
  void StyleChanged();

 private:
  void Reload();
  void TakeTypedAddress();

  std::unique_ptr<CBinaryModel> model_;
  QLineEdit* address_;
  CInfoView* dump_;
};

}  // namespace fennik
