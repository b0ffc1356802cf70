// The marker list and the error list: they end with the chosen row, which the selected page
// then navigates to by file address.
#pragma once

#include <QDialog>

class QListWidget;
class QPushButton;

namespace fennik {

class CMarkerListDialog : public QDialog {
 public:
  explicit CMarkerListDialog(int language, QWidget* parent = nullptr);
  int Chosen() const { return chosen_; }
  QListWidget* List() const { return list_; }
  void Jump();
  void Delete();
  void DeleteAll();

 private:
  void Fill();
  int language_;
  int chosen_ = -1;
  QListWidget* list_;
  QPushButton* jump_;
  QPushButton* delete_;
  QPushButton* deleteAll_;
};

class CErrorListDialog : public QDialog {
 public:
  explicit CErrorListDialog(int language, QWidget* parent = nullptr);
  // The chosen error entry's index in the error table.
  int Chosen() const { return chosen_; }
  QListWidget* List() const { return list_; }
  void Jump();

 private:
  int chosen_ = -1;
  QListWidget* list_;
};

}  // namespace fennik
