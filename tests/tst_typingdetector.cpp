#include "messenger/typingdetector.h"

#include <QTest>

using namespace Qt::StringLiterals;

// Steps: 't' text now present, 'e' text now empty, 'f' focus gained with the
// current text, 'l' focus lost, 's' suppress on, 'u' suppress off. Reports
// are written as the flags in order, '-' for a step that reports nothing.
class TestTypingDetector : public QObject
{
    Q_OBJECT

private slots:
    void transitions_data();
    void transitions();
};

void TestTypingDetector::transitions_data()
{
    QTest::addColumn<QString>("steps");
    QTest::addColumn<QString>("reports");

    QTest::newRow("first character, then emptied") << u"te"_s << u"10"_s;
    QTest::newRow("more text reports nothing new") << u"ttt"_s << u"1--"_s;
    QTest::newRow("focus gained empty") << u"f"_s << u"-"_s;
    QTest::newRow("focus gained holding text") << u"tlf"_s << u"101"_s;
    QTest::newRow("focus lost while typing") << u"tl"_s << u"10"_s;
    QTest::newRow("focus lost while idle repeats nothing") << u"l"_s << u"-"_s;
    QTest::newRow("focus back after emptying elsewhere") << u"tlef"_s << u"10--"_s;
    QTest::newRow("typing again after focus lost") << u"tlet"_s << u"10-1"_s;
    QTest::newRow("suppressed pane never reports") << u"stetfl"_s << u"------"_s;
    QTest::newRow("suppress lifted, text already there") << u"stuf"_s << u"---1"_s;
    QTest::newRow("suppress lifted, next text") << u"steut"_s << u"----1"_s;
}

void TestTypingDetector::transitions()
{
    QFETCH(QString, steps);
    QFETCH(QString, reports);

    TypingDetector d;
    bool hasText = false;
    QString got;
    for (QChar step : steps) {
        std::optional<int> r;
        switch (step.unicode()) {
        case 't':
            hasText = true;
            r = d.textChanged(true);
            break;
        case 'e':
            hasText = false;
            r = d.textChanged(false);
            break;
        case 'f':
            r = d.focusGained(hasText);
            break;
        case 'l':
            r = d.focusLost();
            break;
        case 's':
            d.setSuppressed(true);
            break;
        case 'u':
            d.setSuppressed(false);
            break;
        }
        got += r ? QString::number(*r) : u"-"_s;
    }
    QCOMPARE(got, reports);
}

QTEST_GUILESS_MAIN(TestTypingDetector)
#include "tst_typingdetector.moc"
