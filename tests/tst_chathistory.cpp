#include "messenger/chathistory.h"
#include "messenger/chatlines.h"
#include "messenger/rtfreader.h"
#include "messenger/rtfwriter.h"

#include <QTest>

using namespace Qt::StringLiterals;

namespace {

const QDateTime When(QDate(2024, 3, 5), QTime(13, 4, 5));

QByteArray message(const QString& text)
{
    return RtfFromPlainText(text);
}

// Distinct lines, so that a kept tail shows exactly where the cut fell.
QStringList numberedLines(int count, int length)
{
    QStringList lines;
    for (int i = 0; i < count; ++i) {
        QString line = QString::number(i) + u':';
        while (line.size() < length)
            line += QChar(char16_t(u'a' + (line.size() + i) % 26));
        lines.append(line.left(length));
    }
    return lines;
}

} // namespace

class TestChatHistory : public QObject
{
    Q_OBJECT

private slots:
    void linesAndPrefixes();
    void trimming_data();
    void trimming();
    void trimmingKeepsSurrogatePairsWhole();
    void emptyTextClears();
    void storedHistoryRoundTrip();
    void boundedForStorage_data();
    void boundedForStorage();
};

void TestChatHistory::linesAndPrefixes()
{
    const QString stamp = ChatLines::TimeStamp(When);
    ChatHistory pane;
    pane.AppendPeerLine(u"Bob"_s, message(u"Hi"_s), When);
    QString expected = u"Bob: "_s + stamp + u"\nHi"_s; // no empty paragraph before the first line
    QCOMPARE(pane.plainText(), expected);

    pane.AppendOwnLine(u"Me"_s, u"Bob, Carol"_s, message(u"Yo\nthere"_s), When);
    expected += u"\n\nMe 4 Bob, Carol: "_s + stamp + u"\nYo\nthere"_s;
    QCOMPARE(pane.plainText(), expected);

    pane.AppendQueuedOwnLine(u"Me"_s, u"Bob"_s, message(u"later"_s), When);
    expected += u"\n\nMe 4 Bob: "_s + stamp + u"\nAn Offline Message was Queued\nlater"_s;
    QCOMPARE(pane.plainText(), expected);

    const QByteArray queue = ChatLines::QueuedPiece(u"T1"_s, message(u"one"_s)) +
                             ChatLines::QueuedPiece(u"T2"_s, message(u"two"_s)) + "{\\rtf1 rest}";
    pane.AppendQueuedPeerLines(u"Bob"_s, queue, When);
    expected += u"\n\nBob: "_s + stamp +
                u"\nOffline Message sent at: T1\none\nOffline Message sent at: T2\ntwo\nrest"_s;
    QCOMPARE(pane.plainText(), expected);

    // Headers keep their colours and weights; messages keep their own format.
    const QList<RichParagraph>& paragraphs = pane.content().paragraphs();
    const RichRun& name = paragraphs.at(0).runs.at(0);
    QCOMPARE(name.text, u"Bob:"_s);
    QCOMPARE(name.format.color, std::optional<uint32_t>(0x0055E5));
    QVERIFY(name.format.bold);
    QCOMPARE(name.format.halfPoints, 20);
    QCOMPARE(paragraphs.at(0).runs.at(1).format.color, std::optional<uint32_t>(0x000000));
    QCOMPARE(paragraphs.at(1).runs.at(0).format, RichFormat::chatDefault());
    const RichRun& arrow = paragraphs.at(3).runs.at(1);
    QCOMPARE(arrow.text, u"4"_s);
    QCOMPARE(arrow.format.face, u"Webdings"_s);
}

void TestChatHistory::trimming_data()
{
    QTest::addColumn<int>("lines");
    QTest::addColumn<int>("length");

    QTest::newRow("under the limit") << 10 << 99;
    QTest::newRow("exactly the limit") << 100 << 99; // 100 x (99 + break)
    QTest::newRow("one over") << 100 << 99 + 1;
    QTest::newRow("cut inside a line") << 333 << 47;
    QTest::newRow("one message longer than the limit") << 1 << 25000;
}

void TestChatHistory::trimming()
{
    QFETCH(int, lines);
    QFETCH(int, length);

    ChatHistory pane;
    QString all;
    for (const QString& line : numberedLines(lines, length)) {
        pane.StreamInAtEnd(message(line));
        all += line + u'\n';
        QVERIFY(pane.characterCount() <= ChatHistory::MaxCharacters);
    }
    const QString kept = all.right(ChatHistory::MaxCharacters);
    QCOMPARE(pane.characterCount(), kept.size());
    QCOMPARE(pane.plainText(), kept.chopped(1)); // the final break is not shown
}

void TestChatHistory::trimmingKeepsSurrogatePairsWhole()
{
    // "x", 5000 pairs and a break: 10002 characters, so the cut falls inside the first pair.
    QString text = u"x"_s;
    for (int i = 0; i < 5000; ++i)
        text += u"\U0001F600"_s;
    ChatHistory pane;
    pane.StreamInAtEnd(message(text));
    QCOMPARE(pane.characterCount(), ChatHistory::MaxCharacters - 1);
    QCOMPARE(pane.plainText(), text.mid(3));
}

void TestChatHistory::emptyTextClears()
{
    ChatHistory pane;
    pane.AppendPeerLine(u"Bob"_s, message(u"Hi"_s), When);
    pane.StreamInAtEnd(QByteArray());
    QVERIFY(pane.isEmpty());
    QCOMPARE(pane.plainText(), QString());

    pane.AppendPeerLine(u"Bob"_s, message(u"Hi"_s), When);
    pane.setRtf(QByteArray());
    QVERIFY(pane.isEmpty());
    // The next line is again a first line.
    pane.AppendPeerLine(u"Bob"_s, message(u"Hi"_s), When);
    QVERIFY(pane.plainText().startsWith(u"Bob: "_s));
    QCOMPARE(ChatHistory().GetRtf(), QByteArray());
}

void TestChatHistory::storedHistoryRoundTrip()
{
    ChatHistory pane;
    RichFormat red = RichFormat::chatDefault();
    red.color = 0xFF0000;
    red.italic = true;
    RichText formatted = RichText::fromPlainText(u"{odd} \\ name é 日\ttab"_s, red);
    pane.AppendPeerLine(u"B{o}b"_s, RtfWriter::write(formatted), When);
    pane.AppendOwnLine(u"Me"_s, u"B{o}b"_s, message(u"two\nlines"_s), When);

    const QByteArray stored = pane.GetRtf();
    QVERIFY(stored.endsWith(RtfDocumentEnd));
    ChatHistory loaded;
    loaded.setRtf(stored);
    QVERIFY(loaded.content() == pane.content());
    QCOMPARE(loaded.GetRtf(), stored);

    // A loaded history goes on where it stopped: the next line gets its paragraph prefix.
    pane.AppendPeerLine(u"X"_s, message(u"y"_s), When);
    loaded.AppendPeerLine(u"X"_s, message(u"y"_s), When);
    QCOMPARE(loaded.plainText(), pane.plainText());
}

void TestChatHistory::boundedForStorage_data()
{
    QTest::addColumn<QString>("character");
    QTest::addColumn<int>("maxBytes");

    // Characters outside the code page take 8 bytes each as \uN?.
    QTest::newRow("wide characters, profile bound") << u"日"_s << 65534;
    QTest::newRow("code-page characters, small bound") << u"é"_s << 2000;
    QTest::newRow("already fits") << u"a"_s << 65534;
    QTest::newRow("not even an empty document fits") << u"日"_s << 50;
}

void TestChatHistory::boundedForStorage()
{
    QFETCH(QString, character);
    QFETCH(int, maxBytes);

    ChatHistory pane;
    for (int i = 0; i < 200; ++i)
        pane.StreamInAtEnd(message(QString::number(i) + character.repeated(60)));
    const QByteArray whole = pane.GetRtf();
    const QByteArray bounded = pane.rtfBounded(maxBytes);
    QVERIFY(bounded.size() <= maxBytes);
    if (whole.size() <= maxBytes) {
        QCOMPARE(bounded, whole);
        return;
    }
    if (maxBytes < 200) {
        QCOMPARE(bounded, QByteArray());
        return;
    }
    // The newest part survives, and only as much as needed was dropped.
    QVERIFY(bounded.endsWith(RtfDocumentEnd));
    const QString kept = RtfToPlainText(bounded);
    QVERIFY(pane.plainText().endsWith(kept));
    QVERIFY(bounded.size() > maxBytes - 64);
}

QTEST_GUILESS_MAIN(TestChatHistory)
#include "tst_chathistory.moc"
