#pragma once
// How the window's controls are made: the design's panels, labels,
// buttons, edit boxes and lists, with their bevels, colours and sizes.
// GUI thread only.

#include "Icons.h"

#include <QColor>
#include <QRect>
#include <QString>
#include <QStyledItemDelegate>

class QFrame;
class QLabel;
class QLineEdit;
class QListView;
class QObject;
class QTimer;
class QToolButton;
class QWidget;

enum class TBevel { None, Raised, Lowered, LoweredTwice };

QFrame *MakePanel(QWidget *parent, const char *name, TBevel bevel);
QLabel *MakeLabel(QWidget *parent, const char *name, const QString &text);
// A label at (left, top), as large as its text.
QLabel *PlaceLabel(QWidget *parent, const char *name, const QString &text, int left, int top);
// hint: shown as a tooltip when showHint; always the accessible name
// (accessibleName overrides it for buttons without a hint).
QToolButton *MakeButton(QWidget *parent, const char *name, TButtonPicture picture, QRect place, const QString &hint,
                        bool showHint, const QString &accessibleName = {});
// Read-only boxes are silver; the others are white. Buttons and boxes are
// tab stops.
QLineEdit *MakeEdit(QWidget *parent, const char *name, QRect place, bool readOnly);
// A list of the design: rows 13 pixels high, silver, one row selected at a time.
QListView *MakeList(QWidget *parent, const char *name);

// List boxes were designed with rows 13 pixels high.
class TRowHeightDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;
    QSize sizeHint(const QStyleOptionViewItem &option, const QModelIndex &index) const override;
};
// A precise timer of one second.
QTimer *MakeTimer(QObject *parent, const char *name);
void SetSilver(QWidget *widget);
void SetTextColour(QLabel *label, const QColor &text, const QColor &background = QColor());
// A red-on-yellow flag ("Идет передача ...") for a docking layout that
// sizes it by its text: the designed width, or more when the language's
// text needs it. Hidden until a transfer shows it.
void FitFlag(QLabel *label, int designedWidth);
