#include "profile/rtffit.h"

#include <QTest>

namespace {

const QByteArray header =
    "{\\rtf1\\ansi\\ansicpg1252\\deff0\\deflang1033{\\fonttbl{\\f0\\fnil\\fcharset0 "
    "Verdana;}}{\\colortbl ;\\red255\\green0\\blue0;}\\viewkind4\\uc1\\pard";

QByteArray document(const QByteArray& body)
{
    return header + body + "}\r\n";
}

// Braces close as they open, ignoring escaped ones.
bool balanced(const QByteArray& rtf)
{
    int depth = 0;
    for (qsizetype i = 0; i < rtf.size(); ++i) {
        if (rtf[i] == '\\') {
            ++i;
            continue;
        }
        if (rtf[i] == '{')
            ++depth;
        if (rtf[i] == '}' && --depth < 0)
            return false;
    }
    return depth == 0;
}

} // namespace

class TestProfileRtf : public QObject
{
    Q_OBJECT

private slots:
    void fit_data();
    void fit();
    void everySizeFitsAndBalances();
};

void TestProfileRtf::fit_data()
{
    QTest::addColumn<QByteArray>("rtf");
    QTest::addColumn<int>("max");
    QTest::addColumn<QByteArray>("expected");

    const QByteArray one = document("\\f0\\fs16 first\\par\r\n");
    const QByteArray two = document("\\f0\\fs16 second\\par\r\n");
    const QByteArray three = document("\\f0\\fs16 third\\par\r\n");
    QTest::newRow("fits") << one << int(one.size()) << one;
    QTest::newRow("queue drops oldest document")
        << one + two + three << int(two.size() + three.size()) << two + three;
    QTest::newRow("queue keeps only the last")
        << one + two + three << int(three.size() + 5) << three;

    // Formatting in force at the cut is carried into the kept part.
    const QByteArray styled = document("\\cf1\\b\\f0\\fs20 red bold\\par\r\n\\b0 plain\\par\r\n"
                                       "still plain\\par\r\n");
    const QByteArray cutTwo = header + "\\cf1\\b0\\f0\\fs20 still plain\\par\r\n}\r\n";
    QTest::newRow("carries format") << styled << int(cutTwo.size()) << cutTwo;
    const QByteArray cutOne =
        header + "\\cf1\\b\\f0\\fs20 \\b0 plain\\par\r\nstill plain\\par\r\n}\r\n";
    QTest::newRow("cuts as little as it can") << styled << int(styled.size() - 1) << cutOne;

    // Paragraph marks inside a group are no place to cut.
    const QByteArray grouped = document("\\f0 {\\b in\\par group\\par}\\par\r\nend\\par\r\n");
    const QByteArray groupedCut = header + "\\f0 end\\par\r\n}\r\n";
    QTest::newRow("group kept whole") << grouped << int(groupedCut.size() + 3) << groupedCut;

    // Escaped braces and hex bytes are text, not structure.
    const QByteArray escaped =
        document("\\f0 \\{not a group\\par\r\n\\'7d\\}\\par\r\ntail\\par\r\n");
    const QByteArray escapedCut = header + "\\f0 tail\\par\r\n}\r\n";
    QTest::newRow("escapes") << escaped << int(escapedCut.size()) << escapedCut;

    // Paragraph words after \pard stay with the header.
    const QByteArray indented = document("\\li200\\f0 one\\par\r\ntwo\\par\r\n");
    const QByteArray indentedCut = header + "\\li200\\f0 two\\par\r\n}\r\n";
    QTest::newRow("paragraph words kept") << indented << int(indentedCut.size()) << indentedCut;

    QTest::newRow("nothing fits") << one << int(header.size()) << QByteArray();
    QTest::newRow("no paragraph header")
        << QByteArray("{\\rtf1 ") + QByteArray(200, 'x') + "\\par\r\nmore\\par\r\n}\r\n"
        << 100 << QByteArray();
    QTest::newRow("last paragraph alone too big")
        << document("\\f0 a\\par\r\n" + QByteArray(500, 'x') + "\\par\r\n") << 400 << QByteArray();
}

void TestProfileRtf::fit()
{
    QFETCH(QByteArray, rtf);
    QFETCH(int, max);
    QFETCH(QByteArray, expected);
    const QByteArray fitted = FitRichText(rtf, max);
    QCOMPARE(fitted, expected);
    QVERIFY(fitted.size() <= max);
}

void TestProfileRtf::everySizeFitsAndBalances()
{
    QByteArray body = "\\cf1\\f0\\fs16 ";
    for (int i = 0; i < 40; ++i) {
        body += "line " + QByteArray::number(i) + (i % 3 ? " \\b bold\\b0 " : " {\\i it} ") +
                "\\u8364? \\'e9\\par\r\n";
    }
    const QByteArray rtf = document(body);
    for (qsizetype max = 0; max <= rtf.size(); max += 7) {
        const QByteArray fitted = FitRichText(rtf, max);
        QVERIFY(fitted.size() <= max);
        if (fitted.isEmpty())
            continue;
        QVERIFY2(balanced(fitted), fitted.constData());
        QVERIFY(fitted.startsWith(header));
        QVERIFY(fitted.endsWith("line 39 {\\i it} \\u8364? \\'e9\\par\r\n}\r\n"));
    }
    QCOMPARE(FitRichText(rtf, rtf.size()), rtf);
}

QTEST_GUILESS_MAIN(TestProfileRtf)
#include "tst_profilertf.moc"
