#pragma once
// The window's controls hold the program's state; these helpers read and
// write their texts as the Windows-1251 strings the logic works with.
// GUI thread only.

#include <QColor>
#include <QFont>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QPlainTextEdit>

#include <string>

class QKeyEvent;
#include <vector>

// The colours and the font the window was designed with.
inline const QColor kSilver{0xC0, 0xC0, 0xC0};
inline const QColor kMaroon{0x80, 0x00, 0x00};
inline const QColor kNavy{0x00, 0x00, 0x80};
// The desktop's sans-serif face at pixel height 11.
QFont WindowFont();

std::string TextOf(const QLineEdit *edit);
std::string TextOf(const QLabel *label);
void SetTextOf(QLineEdit *edit, const std::string &text);
void SetTextOf(QLabel *label, const std::string &text);

// A list view over the send list or the receive log (peer/sendlist.h,
// peer/receivelog.h): its rows, top to bottom.
int RowCount(const QListView *list);
std::vector<std::string> ListRows(const QListView *list);
std::string RowText(const QListView *list, int row);
// Appends a row; a row of the send list is always checkable.
void AddRow(QListView *list, const std::string &text, bool checkable, bool checked = false);
void InsertRow(QListView *list, int row, const std::string &text);
// Whether the row carries a check mark.
bool RowChecked(const QListView *list, int row);

// The selected row, or -1 when none is selected.
int ItemIndex(const QListView *list);
// Selects the row (and makes it current); -1 selects none.
void SetItemIndex(QListView *list, int row);

// The lines of a multi-line text box, top to bottom.
std::vector<std::string> MemoLines(const QPlainTextEdit *memo);
void SetMemoLines(QPlainTextEdit *memo, const std::vector<std::string> &lines);

// The same in UTF-8, for paths and for what the state files keep: exactly
// what the control shows, whatever characters it holds.
std::string RowUtf8(const QListView *list, int row);
std::vector<std::string> ListUtf8(const QListView *list);
void AddRowUtf8(QListView *list, const std::string &text, bool checkable, bool checked = false);
void InsertRowUtf8(QListView *list, int row, const std::string &text);
std::vector<std::string> MemoUtf8(const QPlainTextEdit *memo);
void SetMemoUtf8(QPlainTextEdit *memo, const std::vector<std::string> &lines);

// The key code the handlers expect: 13 for either Enter key, the
// character's code for letters, digits and the space, and a few others.
quint16 KeyCodeOf(const QKeyEvent *event);
