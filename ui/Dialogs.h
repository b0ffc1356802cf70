// The dialogs of the desktop program: message boxes (through one hook that tests replace),
// the CSV dialog, the jump and view-index entry dialogs, the language dialog and the about box.
#pragma once

#include <QDialog>
#include <functional>
#include <string>

class QComboBox;
class QLineEdit;
class QRadioButton;

namespace fennik {

// The text of `language`: English (0) or Japanese (1).
inline const char* Text(int language, const char* en, const char* ja) { return language == 1 ? ja : en; }

enum class MessageKind { kInformation, kWarning, kQuestion };
// Shows a message box; for kQuestion returns true on Yes (No is the default button).
bool ShowMessage(QWidget* parent, MessageKind kind, const QString& caption, const QString& text);
// Replaces the message boxes (tests answer them); an empty function restores them.
using MessageHook = std::function<bool(MessageKind kind, const QString& caption, const QString& text)>;
void SetMessageHook(MessageHook hook);

// Runs a dialog modally; true when it was accepted. Tests replace the modal loop with a
// hook that fills the dialog and accepts or rejects it.
bool RunDialog(QDialog& dialog);
using DialogHook = std::function<void(QDialog& dialog)>;
void SetDialogHook(DialogHook hook);

// "Output CSV File": the range Start/End and the output file.
class CCsvFileDialog : public QDialog {
 public:
  CCsvFileDialog(int language, QWidget* parent = nullptr);
  QLineEdit* StartField() const { return start_; }
  QLineEdit* EndField() const { return end_; }
  QLineEdit* FileField() const { return file_; }
  int64_t Start() const { return first_; }
  int64_t End() const { return last_; }
  std::string FileName() const;
  void accept() override;

 private:
  int language_;
  QLineEdit* start_;
  QLineEdit* end_;
  QLineEdit* file_;
  int64_t first_ = 0;
  int64_t last_ = 0;
};

// The jump dialog (6015) and the view-index dialog (6012): mode Number or Address and the
// value; an empty or invalid entry clears the field and keeps the dialog open.
class CEntryDialog : public QDialog {
 public:
  enum Mode { kNumber = 0, kAddress = 1 };
  CEntryDialog(const QString& title, int mode, int language, QWidget* parent = nullptr);
  QLineEdit* Field() const { return field_; }
  QRadioButton* NumberButton() const { return number_; }
  QRadioButton* AddressButton() const { return address_; }
  int Mode() const;
  uint64_t Value() const { return value_; }
  void accept() override;

 private:
  QRadioButton* number_;
  QRadioButton* address_;
  QLineEdit* field_;
  uint64_t value_ = 0;
};

// The language dialog: "English" / "Japanese".
class CChooseLanguageDialog : public QDialog {
 public:
  CChooseLanguageDialog(int initial, int language, QWidget* parent = nullptr);
  int Choice() const;

 private:
  QComboBox* combo_;
};

// The about box: version, edition and the loaded codec modules' notices.
class CAboutDialogX : public QDialog {
 public:
  CAboutDialogX(const QString& version, const QString& notices, int language, QWidget* parent = nullptr);
};

}  // namespace fennik
