#pragma once
// A layout that places children the way the window was designed: each child
// is docked to the top, bottom, left or right edge of what is still free, in
// the order it was added (tops first, then bottoms, lefts, rights), and a
// client child fills the rest. Children that are not added keep the
// geometry given to them. Hidden children take no room.

#include <QLayout>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QRect>

#include <optional>

class TAlignLayout : public QLayout {
public:
    enum class Align { Top, Bottom, Left, Right, Client };

    // Installs itself on parent, with no margins and no spacing.
    explicit TAlignLayout(QWidget *parent);
    ~TAlignLayout() override;

    // size: the height of a top/bottom child or the width of a left/right
    // one; -1 takes it from the child's size hint (an auto-sized label).
    void add(QWidget *widget, Align dock, int size = -1);

    void addItem(QLayoutItem *item) override; // docked as client
    QLayoutItem *itemAt(int index) const override;
    QLayoutItem *takeAt(int index) override;
    int count() const override;
    QSize sizeHint() const override;
    QSize minimumSize() const override;
    void setGeometry(const QRect &rect) override;
    void invalidate() override;

private:
    struct Entry {
        QLayoutItem *item;
        Align align;
        int size;
    };
    int extent(const Entry &entry) const;
    QSize totalSize(bool minimum) const;

    QList<Entry> entries_;
    // Every text that changes in a child asks the whole window to lay out
    // again; the sizes stay as they were until a child of this one changes.
    mutable std::optional<QSize> hint_;
    mutable std::optional<QSize> minimum_;
};

// Children at the design's places in a container that may grow wider than
// designed: each takes a share of the extra width as a move to the right
// and a share as growth, so boxes widen and what stands beside them moves
// along. At the designed width and below, the design's places hold.
// Lives as long as the container (its parent). GUI thread only.
class TStretchPlaces : public QObject {
public:
    TStretchPlaces(QWidget *container, int designedWidth);

    // Places widget now and at every resize of the container; a widget
    // placed again takes its new design. move + grow at most 1.
    void place(QWidget *widget, const QRect &designed, double move = 0, double grow = 0);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    struct Entry {
        QPointer<QWidget> widget; // may go before the container (the computers button)
        QRect designed;
        double move;
        double grow;
    };
    void apply(const Entry &entry) const;

    QWidget *container_;
    int designedWidth_;
    QList<Entry> entries_;
};
