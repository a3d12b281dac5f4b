// What a screen reader is told about the lists' rows, asked of the window's
// controls directly (the walk over the bus, boxes and names included, is
// a11y_test.sh).

#include "Controls.h"
#include "FormFixture.h"
#include "peer/receivelog.h"
#include "peer/sendlist.h"

#include <QAccessible>
#include <QListView>

namespace {

using AccessibilityTest = FormFixture;

TEST_F(AccessibilityTest, CheckMarksOfTheSendListToggleThroughTheRowsAction)
{
    TForm1 &f = Start();
    f.SendList().Append(QStringLiteral("/tmp/first.txt"));
    f.SendList().Append(QStringLiteral("/tmp/second.txt"), false);
    f.ReceiveLog().Prepend(QStringLiteral("arrived.txt"), QString());
    QAccessibleInterface *send = QAccessible::queryAccessibleInterface(f.ListF_send);
    QAccessibleInterface *received = QAccessible::queryAccessibleInterface(f.ListF_recv);
    ASSERT_EQ(send->childCount(), 2);
    ASSERT_EQ(received->childCount(), 1);
    const struct {
        QAccessibleInterface *list;
        int row;
        QString name;
        QAccessible::Role role;
        bool checked;
    } rows[] = {
        {send, 0, QStringLiteral("/tmp/first.txt"), QAccessible::CheckBox, true},
        {send, 1, QStringLiteral("/tmp/second.txt"), QAccessible::CheckBox, false},
        {received, 0, QStringLiteral("arrived.txt"), QAccessible::ListItem, false},
    };
    for (const auto &r : rows) {
        SCOPED_TRACE(r.name.toStdString());
        QAccessibleInterface *row = r.list->child(r.row);
        ASSERT_NE(row, nullptr);
        EXPECT_EQ(row->text(QAccessible::Name), r.name);
        EXPECT_EQ(row->role(), r.role);
        EXPECT_EQ(row->state().checkable, r.role == QAccessible::CheckBox);
        EXPECT_EQ(row->state().checked, r.checked);
        EXPECT_EQ(r.list->indexOfChild(row), r.row);
        const bool toggles = row->actionInterface()->actionNames().contains(QAccessibleActionInterface::toggleAction());
        EXPECT_EQ(toggles, r.role == QAccessible::CheckBox);
    }

    // On and off again, through the model.
    for (const bool want : {true, false}) {
        send->child(1)->actionInterface()->doAction(QAccessibleActionInterface::toggleAction());
        EXPECT_EQ(f.SendList().Checked(1), want);
        EXPECT_EQ(send->child(1)->state().checked, want);
    }
    // A row removed: the rows are asked anew and the one below moves up.
    f.SendList().Remove(0);
    ASSERT_EQ(send->childCount(), 1);
    EXPECT_EQ(send->child(0)->text(QAccessible::Name), QStringLiteral("/tmp/second.txt"));
    EXPECT_EQ(send->child(1), nullptr);
    // Making a row current selects it, as a click does.
    send->child(0)->actionInterface()->doAction(QAccessibleActionInterface::setFocusAction());
    EXPECT_EQ(ItemIndex(f.ListF_send), 0);
}

} // namespace
