// The settings dialogs (colours, font, other settings), the SDP dialogs (setting, input,
// selection) and the select-view dialog. They work on copies handed in and out; the main
// window stores the results in the settings and writes the settings file.
#pragma once

#include <QDialog>
#include <cstdint>
#include <string>
#include <vector>

#include "config/ColorTable.h"
#include "ui/SdpText.h"

class QComboBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QPlainTextEdit;
class QSpinBox;
class QTableWidget;

namespace fennik {

class CSelectViewDialog : public QDialog {
 public:
  CSelectViewDialog(const std::vector<QString>& names, int current, int language, QWidget* parent = nullptr);
  QListWidget* List() const { return list_; }
  int Selected() const;

 private:
  QListWidget* list_;
};

// Colour setting: the named colour indices; each has a text and a background colour.
class CColorDialog : public QDialog {
 public:
  CColorDialog(const ColorArray& colors, int language, QWidget* parent = nullptr);
  const ColorArray& Colors() const { return colors_; }
  // Sets a colour of the selected entry (the buttons run the colour chooser).
  void SetSelectedColor(bool background, uint32_t bgr);
  QListWidget* List() const { return list_; }

 private:
  void ShowSample();
  ColorArray colors_;
  QListWidget* list_;
  QLabel* sample_;
};

class CFontDialog : public QDialog {
 public:
  CFontDialog(const std::string& name, int size, int language, QWidget* parent = nullptr);
  std::string FontName() const;
  int FontSize() const;
  QComboBox* Face() const { return face_; }
  QSpinBox* Size() const { return size_; }

 private:
  QComboBox* face_;
  QSpinBox* size_;
};

// Other settings: the file loading limit in MB.
class COtherSettingsDialog : public QDialog {
 public:
  COtherSettingsDialog(uint32_t limitMb, int language, QWidget* parent = nullptr);
  uint32_t LimitMb() const;

 private:
  QSpinBox* limit_;
};

// "Input SDP": title and body; OK only when both are non-empty.
class CSDPInputDialog : public QDialog {
 public:
  CSDPInputDialog(const SdpText& text, int language, QWidget* parent = nullptr);
  SdpText Text() const;
  QLineEdit* TitleField() const { return title_; }
  QPlainTextEdit* BodyField() const { return body_; }
  void accept() override;

 private:
  QLineEdit* title_;
  QPlainTextEdit* body_;
};

// "SDP Setting": edits a copy of the SDP list.
class CSDPSettingDialog : public QDialog {
 public:
  CSDPSettingDialog(std::vector<SdpText> list, int language, QWidget* parent = nullptr);
  const std::vector<SdpText>& List() const { return list_; }
  QListWidget* Titles() const { return titles_; }
  QPlainTextEdit* Body() const { return body_; }
  // The buttons' operations (Add and Modify take the input dialog's result).
  void Add(const SdpText& text);
  void Modify(const SdpText& text);
  void Delete();

 private:
  void ShowSelected();
  int language_;
  std::vector<SdpText> list_;
  QListWidget* titles_;
  QPlainTextEdit* body_;
};

// One stream without SDP in the selection dialog.
struct SdpStreamRow {
  uint32_t sourceAddress;
  uint16_t sourcePort;
  std::string title;  // the "SDP" cell
  std::string text;   // the "SDP(Value)" cell
};

// "Select SDP": assigns SDP texts to the streams without SDP.
class CSDPSelectDialog : public QDialog {
 public:
  CSDPSelectDialog(std::vector<SdpStreamRow> rows, std::vector<SdpText> list, int language, QWidget* parent = nullptr);
  const std::vector<SdpStreamRow>& Rows() const { return rows_; }
  // The stored list with the bodies edited here.
  const std::vector<SdpText>& List() const { return list_; }
  QTableWidget* Table() const { return table_; }
  QComboBox* Chooser() const { return chooser_; }
  QPlainTextEdit* Body() const { return body_; }
  // "Select": the chosen item goes to the selected stream row.
  void Select();
  void accept() override;

 private:
  void StoreBack();
  std::vector<SdpStreamRow> rows_;
  std::vector<SdpText> list_;
  std::string typed_;  // the first chooser item: a text typed on the spot
  int chosen_ = 0;
  QTableWidget* table_;
  QComboBox* chooser_;
  QPlainTextEdit* body_;
};

}  // namespace fennik
