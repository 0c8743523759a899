// The tables below use plain string literals.
#undef QT_NO_CAST_FROM_ASCII

#include "shell/addnewcontactdlg.h"
#include "shell/editdlg.h"
#include "shell/filedialogex.h"
#include "shell/listctrlex.h"
#include "shell/progressex.h"
#include "shell/shellfiles.h"
#include "shell/staticcolor.h"

#include <QHeaderView>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QtTest>

// The program's own list, progress, coloured-text and input controls.
class TestShellControls : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void headerClicksSortStably_data();
    void headerClicksSortStably();
    void numberColumnSortsByValue();
    void dateTimeKey_data();
    void dateTimeKey();
    void dateColumnSortsByTime();
    void sortNoticeAboveFourHundredRows_data();
    void sortNoticeAboveFourHundredRows();
    void sortKeepsSelection();

    void lighten_data();
    void lighten();
    void gradientStripes_data();
    void gradientStripes();

    void progressValueUnderCursor_data();
    void progressValueUnderCursor();

    void addContactPortCheck_data();
    void addContactPortCheck();
    void addContactLimitsAndDefaults();
    void editDialogKeepsAtMost259Characters();
    void selectedPathJoinsFolderAndName_data();
    void selectedPathJoinsFolderAndName();
    void selectReportsAFolderInsteadOfOpeningIt();

private:
    struct Box
    {
        QMessageBox::Icon icon;
        QString caption;
        QString text;
    };
    QList<Box> m_boxes;
};

void TestShellControls::init()
{
    m_boxes.clear();
    SetMessageBoxHook(
        [this](QWidget*, QMessageBox::Icon icon, const QString& caption, const QString& text) {
            m_boxes.append({icon, caption, text});
        });
}

void TestShellControls::cleanup()
{
    SetMessageBoxHook({});
}

static QStringList column(const CListCtrlEx& list, int c)
{
    QStringList out;
    for (int i = 0; i < list.topLevelItemCount(); ++i)
        out << list.topLevelItem(i)->text(c);
    return out;
}

static void fill(CListCtrlEx& list, const QList<QStringList>& rows)
{
    list.setColumnCount(int(rows.first().size()));
    for (const QStringList& r : rows)
        list.addTopLevelItem(new QTreeWidgetItem(r));
}

void TestShellControls::headerClicksSortStably_data()
{
    QTest::addColumn<QList<QStringList>>("rows");
    QTest::addColumn<QStringList>("firstClick");  // column 1 after one click on column 0
    QTest::addColumn<QStringList>("secondClick"); // after a second click

    // Equal names keep the order they had before each sort.
    QTest::newRow("equal texts keep their order")
        << QList<QStringList>{{"bob", "1"}, {"Alice", "2"}, {"BOB", "3"}, {"alice", "4"}}
        << QStringList{"2", "4", "1", "3"} << QStringList{"1", "3", "2", "4"};
    QTest::newRow("case is ignored") << QList<QStringList>{{"b", "1"}, {"C", "2"}, {"a", "3"}}
                                     << QStringList{"3", "1", "2"} << QStringList{"2", "1", "3"};
    QTest::newRow("one row") << QList<QStringList>{{"x", "1"}} << QStringList{"1"}
                             << QStringList{"1"};
}

void TestShellControls::headerClicksSortStably()
{
    QFETCH(QList<QStringList>, rows);
    QFETCH(QStringList, firstClick);
    QFETCH(QStringList, secondClick);
    CListCtrlEx list;
    fill(list, rows);
    list.show();
    QVERIFY(QTest::qWaitForWindowExposed(&list));

    const auto clickHeader = [&] {
        QHeaderView* header = list.header();
        const QPoint at(header->sectionViewportPosition(0) + 5, header->height() / 2);
        QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, at);
    };
    clickHeader();
    QCOMPARE(column(list, 1), firstClick);
    clickHeader();
    QCOMPARE(column(list, 1), secondClick);
}

void TestShellControls::numberColumnSortsByValue()
{
    CListCtrlEx list;
    fill(list, {{"10", "a"}, {"9", "b"}, {"x", "c"}, {"100", "d"}, {"-3", "e"}, {"9", "f"}});
    list.Sort(0, true, CListCtrlEx::Number);
    // Non-numbers count as 0; the two nines stay in their order.
    QCOMPARE(column(list, 1), (QStringList{"e", "c", "b", "f", "a", "d"}));
    list.Sort(0, false, CListCtrlEx::Number);
    QCOMPARE(column(list, 1), (QStringList{"d", "a", "b", "f", "c", "e"}));
}

void TestShellControls::dateTimeKey_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<qint64>("key");

    QTest::newRow("transfer time stamp") << "Tue 03/05/24 09:07:06 AM" << Q_INT64_C(240305090706);
    QTest::newRow("separate pm word") << "Tue 03/05/2024 09:07:06 PM" << Q_INT64_C(20240305210706);
    QTest::newRow("pm glued to the seconds")
        << "03/05/2024 09:07:06pm x" << Q_INT64_C(20240305210706);
    QTest::newRow("month name, day, year")
        << "(December 24 2023 18:30:00)" << Q_INT64_C(20231224183000);
    QTest::newRow("month word in any case")
        << "24 FEBRUARY 1999 10:00:00" << Q_INT64_C(19990224100000);
    QTest::newRow("shorter than 15 characters") << "03/05/24 09:07" << Q_INT64_C(0);
    QTest::newRow("longer than 50 characters") << QString(51, QLatin1Char('1')) << Q_INT64_C(0);
    QTest::newRow("nothing readable") << "no date in this text" << Q_INT64_C(0);
}

void TestShellControls::dateTimeKey()
{
    QFETCH(QString, text);
    QFETCH(qint64, key);
    QCOMPARE(CListCtrlEx::dateTimeKey(text), key);
}

void TestShellControls::dateColumnSortsByTime()
{
    CListCtrlEx list;
    fill(list, {{"Mon 01/02/2023 01:00:00 PM", "late"},
                {"Mon 01/02/2023 11:00:00 AM", "early"},
                {"Sun 12/31/2022 11:59:59 PM", "before"}});
    list.Sort(0, true, CListCtrlEx::DateTime);
    QCOMPARE(column(list, 1), (QStringList{"before", "early", "late"}));
}

void TestShellControls::sortNoticeAboveFourHundredRows_data()
{
    QTest::addColumn<int>("rows");
    QTest::addColumn<bool>("ascending");
    QTest::addColumn<QString>("notice");
    QTest::newRow("400 rows") << 400 << true << QString();
    QTest::newRow("401 rows ascending") << 401 << true << QStringLiteral("Ascending Sort...");
    QTest::newRow("401 rows descending") << 401 << false << QStringLiteral("Descending Sort...");
}

void TestShellControls::sortNoticeAboveFourHundredRows()
{
    QFETCH(int, rows);
    QFETCH(bool, ascending);
    QFETCH(QString, notice);
    CListCtrlEx list;
    list.setColumnCount(1);
    for (int i = 0; i < rows; ++i)
        list.addTopLevelItem(new QTreeWidgetItem(QStringList{QString::number(i % 7)}));
    QSet<QString> seen;
    list.Sort(0, ascending, CListCtrlEx::Custom,
              [&](const QTreeWidgetItem* a, const QTreeWidgetItem* b) {
                  seen.insert(list.sortingNotice());
                  return a->text(0).toInt() - b->text(0).toInt();
              });
    QCOMPARE(seen, QSet<QString>{notice});
    QVERIFY(list.sortingNotice().isEmpty());
}

void TestShellControls::sortKeepsSelection()
{
    CListCtrlEx list;
    list.setSelectionMode(QAbstractItemView::ExtendedSelection);
    fill(list, {{"c"}, {"a"}, {"b"}});
    list.topLevelItem(0)->setSelected(true);
    list.topLevelItem(2)->setSelected(true);
    list.Sort(0, true);
    QCOMPARE(column(list, 0), (QStringList{"a", "b", "c"}));
    QVERIFY(!list.topLevelItem(0)->isSelected());
    QVERIFY(list.topLevelItem(1)->isSelected());
    QVERIFY(list.topLevelItem(2)->isSelected());
}

void TestShellControls::lighten_data()
{
    QTest::addColumn<QColor>("in");
    QTest::addColumn<QColor>("out");
    QTest::newRow("black") << QColor(0, 0, 0) << QColor(127, 127, 127);
    QTest::newRow("white stays") << QColor(255, 255, 255) << QColor(255, 255, 255);
    QTest::newRow("a dark blue") << QColor(10, 36, 106) << QColor(132, 145, 180);
    QTest::newRow("odd channels round down") << QColor(1, 3, 255) << QColor(128, 129, 255);
}

void TestShellControls::lighten()
{
    QFETCH(QColor, in);
    QFETCH(QColor, out);
    QCOMPARE(CStaticColor::lighten(in), out);
}

void TestShellControls::gradientStripes_data()
{
    QTest::addColumn<bool>("mirror");
    QTest::addColumn<int>("length");
    QTest::addColumn<QList<int>>("reds"); // red channel of every stripe, 0 to 200

    QTest::newRow("start to end") << false << 5 << QList<int>{0, 50, 100, 150, 200};
    QTest::newRow("mirrored: ends start, middle end")
        << true << 5 << QList<int>{0, 100, 200, 100, 0};
    QTest::newRow("mirrored, even length") << true << 4 << QList<int>{0, 200, 200, 0};
}

void TestShellControls::gradientStripes()
{
    QFETCH(bool, mirror);
    QFETCH(int, length);
    QFETCH(QList<int>, reds);
    QList<int> got;
    for (int i = 0; i < length; ++i)
        got << CStaticColor::stripeColour(QColor(0, 0, 0), QColor(200, 0, 0), i, length, mirror)
                   .red();
    QCOMPARE(got, reds);
}

void TestShellControls::progressValueUnderCursor_data()
{
    QTest::addColumn<int>("low");
    QTest::addColumn<int>("high");
    QTest::addColumn<int>("x");
    QTest::addColumn<int>("value");
    QTest::newRow("left edge") << 0 << 100 << 0 << 0;
    QTest::newRow("middle") << 0 << 100 << 100 << 50;
    QTest::newRow("shifted range") << 50 << 150 << 50 << 75;
    QTest::newRow("never below low") << 10 << 20 << -40 << 10;
}

void TestShellControls::progressValueUnderCursor()
{
    QFETCH(int, low);
    QFETCH(int, high);
    QFETCH(int, x);
    QFETCH(int, value);
    CProgressEx bar;
    bar.resize(200, 20);
    bar.SetRange(low, high);
    QCOMPARE(bar.valueAt(x), value);
}

void TestShellControls::addContactPortCheck_data()
{
    QTest::addColumn<QString>("port");
    QTest::addColumn<bool>("accepted");
    QTest::newRow("0") << "0" << false;
    QTest::newRow("negative") << "-1" << false;
    QTest::newRow("65536") << "65536" << false;
    QTest::newRow("text") << "abc" << false;
    QTest::newRow("empty") << "" << false;
    QTest::newRow("1") << "1" << true;
    QTest::newRow("65535") << "65535" << true;
}

void TestShellControls::addContactPortCheck()
{
    QFETCH(QString, port);
    QFETCH(bool, accepted);
    CAddNewContactDlg dlg;
    dlg.addressEdit()->setText(QStringLiteral("10.0.0.7"));
    dlg.portEdit()->setText(port);
    dlg.keyEdit()->clear(); // an empty key is not checked here
    dlg.accept();
    QCOMPARE(dlg.result() == QDialog::Accepted, accepted);
    if (accepted) {
        QVERIFY(m_boxes.isEmpty());
        QCOMPARE(dlg.contact().port, port.toInt());
        QCOMPARE(dlg.contact().ip.text(), QStringLiteral("10.0.0.7"));
        QVERIFY(dlg.contact().key.text().isEmpty());
    } else {
        QCOMPARE(m_boxes.size(), 1);
        QCOMPARE(m_boxes[0].icon, QMessageBox::Warning);
        QCOMPARE(m_boxes[0].caption, QStringLiteral("Port Value Invalid"));
        QCOMPARE(m_boxes[0].text,
                 QStringLiteral("The port value entered is not valid, range is 1-65535"));
    }
}

void TestShellControls::addContactLimitsAndDefaults()
{
    CAddNewContactDlg dlg;
    QCOMPARE(dlg.portEdit()->text(), QStringLiteral("8410"));
    QCOMPARE(dlg.keyEdit()->text(), QStringLiteral("QRT482LMN"));
    QCOMPARE(dlg.portEdit()->maxLength(), 5);
    QTest::keyClicks(dlg.portEdit(), QStringLiteral("1234567"));
    QCOMPARE(dlg.portEdit()->text().size(), 5);
    QCOMPARE(dlg.addressEdit()->placeholderText(), QStringLiteral("Enter an IP or DNS"));
    QCOMPARE(dlg.keyEdit()->placeholderText(), QStringLiteral("Encryption key is required"));
}

void TestShellControls::editDialogKeepsAtMost259Characters()
{
    CEditDlg dlg;
    dlg.setText(QString(300, QLatin1Char('x')));
    dlg.edit()->setText(dlg.edit()->text() + QStringLiteral("yz"));
    dlg.accept();
    QCOMPARE(dlg.text().size(), 259);
}

void TestShellControls::selectedPathJoinsFolderAndName_data()
{
    QTest::addColumn<QString>("folder");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("path");
    QTest::newRow("file in a folder") << "/home/a"
                                      << "x.txt"
                                      << "/home/a/x.txt";
    QTest::newRow("trailing separators go") << "/home/a//"
                                            << "sub"
                                            << "/home/a/sub";
    QTest::newRow("root") << "/"
                          << "etc"
                          << "/etc";
    QTest::newRow("no folder recorded") << ""
                                        << "x"
                                        << "";
}

void TestShellControls::selectedPathJoinsFolderAndName()
{
    QFETCH(QString, folder);
    QFETCH(QString, name);
    QFETCH(QString, path);
    QCOMPARE(CFileDialogEx::joinPath(folder, name), path);
}

void TestShellControls::selectReportsAFolderInsteadOfOpeningIt()
{
    QTemporaryDir dir;
    QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("photos")));
    CFileDialogEx dlg(nullptr, QStringLiteral("Select a File or Folder to Send"));
    dlg.setDirectory(dir.path());
    dlg.show();
    auto* name = dlg.findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
    QVERIFY(name);
    name->setText(QStringLiteral("photos"));
    dlg.accept();
    QCOMPARE(dlg.result(), int(CFileDialogEx::Chosen));
    QVERIFY(!dlg.isVisible());
    QCOMPARE(dlg.SelectedPath(), QDir(dir.path()).filePath(QStringLiteral("photos")));
    // The dialog's own accept button reads "&Select".
    bool found = false;
    for (QPushButton* b : dlg.findChildren<QPushButton*>())
        found = found || b->text() == QLatin1String("&Select");
    QVERIFY(found);
}

QTEST_MAIN(TestShellControls)
#include "tst_shellcontrols.moc"
