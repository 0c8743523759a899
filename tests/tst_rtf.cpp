#include "messenger/chatlines.h"
#include "messenger/rtfreader.h"
#include "messenger/rtfwriter.h"
#include "messenger/windows1252.h"

#include <QLocale>
#include <QRandomGenerator>
#include <QTest>

#include <cstring>
#include <ctime>

using namespace Qt::StringLiterals;

namespace {

const QByteArray Head = QByteArrayLiteral("{\\rtf1\\ansi\\ansicpg1252\\deff0\\deflang1033");
const QByteArray PlainHead =
    Head + QByteArrayLiteral("{\\fonttbl{\\f0\\fnil\\fcharset0 Verdana;}}{\\colortbl "
                             ";\\red0\\green0\\blue0;}\\viewkind4\\uc1\\pard\\cf1\\f0\\fs28");
const QString Stamp = QStringLiteral("(01:04:05 PM) Tuesday 03/05/24");

RichFormat fmt(const QString& face, int halfPoints, std::optional<uint32_t> color,
               const char* effects = "")
{
    RichFormat f;
    f.face = face;
    f.halfPoints = halfPoints;
    f.color = color;
    const QByteArray e(effects);
    f.bold = e.contains('b');
    f.italic = e.contains('i');
    f.underline = e.contains('u');
    f.strikeOut = e.contains('s');
    return f;
}

// Whatever the input, what comes out must be displayable and no bigger than what went in.
void checkSane(const QByteArray& input, const RichText& text)
{
    QVERIFY(text.characterCount() <= input.size() + 1); // plain text gets a final break
    QVERIFY(!text.paragraphs().isEmpty());
    for (const RichParagraph& p : text.paragraphs()) {
        for (const RichRun& run : p.runs) {
            QVERIFY(run.format.face.size() <= RtfReader::MaxFontNameLength);
            QVERIFY(run.format.halfPoints >= 1 && run.format.halfPoints <= 3276);
            const QString& s = run.text;
            for (qsizetype i = 0; i < s.size(); ++i) {
                const QChar c = s.at(i);
                QVERIFY(c.unicode() >= 0x20 || c == u'\t');
                if (c.isHighSurrogate()) {
                    QVERIFY(i + 1 < s.size() && s.at(i + 1).isLowSurrogate());
                    ++i;
                } else {
                    QVERIFY(!c.isLowSurrogate());
                }
            }
        }
    }
}

QString randomText(QRandomGenerator& rng, int maxLength, bool withBreaks)
{
    static const QString pool = QStringLiteral("abcXYZ 019;{}\\\t'?*-~_é€ßŸ日本ĀЖ\u2028\u0081");
    QString s;
    const int n = int(rng.bounded(maxLength + 1));
    for (int i = 0; i < n; ++i) {
        const int pick = int(rng.bounded(pool.size() + 4));
        if (pick < pool.size())
            s += pool.at(pick);
        else if (pick == pool.size())
            s += QString::fromUcs4(U"\U0001F600");
        else if (withBreaks)
            s += QStringList{QStringLiteral("\n"), QStringLiteral("\r\n"),
                             QStringLiteral("\r")}[pick - pool.size() - 1];
    }
    return s;
}

QString normalizedBreaks(QString s)
{
    s.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    s.replace(u'\r', u'\n');
    s.replace(QChar::LineSeparator, u'\n');
    return s;
}

} // namespace

class TestRtf : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();

    void readPlainText_data();
    void readPlainText();
    void readRichEditDocument();
    void readGroupsAndResets();
    void readHostile_data();
    void readHostile();
    void readMutatedDocuments();
    void codePageBytesRoundTrip();

    void writePlain_data();
    void writePlain();
    void writeFormatted();
    void roundTripPlainText();
    void roundTripFormatted();

    void chatPieces_data();
    void chatPieces();
    void headersEscapeNames_data();
    void headersEscapeNames();
    void splitQueue_data();
    void splitQueue();
    void timeStamp_data();
    void timeStamp();
};

void TestRtf::initTestCase()
{
    // A fixed zone without daylight saving, and a locale with other day names.
    qputenv("TZ", "JST-9");
    tzset();
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
}

void TestRtf::readPlainText_data()
{
    QTest::addColumn<QByteArray>("rtf");
    QTest::addColumn<QString>("text");

    QTest::newRow("input document") << PlainHead + " Hello\\par\r\n}\r\n" << u"Hello"_s;
    QTest::newRow("own header, first line")
        << ChatLines::OwnLineHeader(false, u"Alice"_s, u"Bob"_s, Stamp)
        << u"Alice 4 Bob: (01:04:05 PM) Tuesday 03/05/24"_s;
    QTest::newRow("peer header, later line") << ChatLines::PeerLineHeader(true, u"Bob"_s, Stamp)
                                             << u"\nBob: (01:04:05 PM) Tuesday 03/05/24"_s;
    QTest::newRow("queued piece header")
        << ChatLines::QueuedPieceHeader(Stamp)
        << u"Offline Message sent at: (01:04:05 PM) Tuesday 03/05/24"_s;
    QTest::newRow("paragraphs") << QByteArray("{\\rtf1 a\\par b\\par\r\n}") << u"a\nb"_s;
    QTest::newRow("no final paragraph") << QByteArray("{\\rtf1 a\\par b}") << u"a\nb"_s;
    QTest::newRow("empty last line") << QByteArray("{\\rtf1 a\\par\\par}") << u"a\n"_s;
    QTest::newRow("backslash-newline is a paragraph") << QByteArray("{\\rtf1 a\\\nb}") << u"a\nb"_s;
    QTest::newRow("raw line ends ignored") << QByteArray("{\\rtf1 a\r\nb\n}") << u"ab"_s;
    QTest::newRow("tab and line") << QByteArray("{\\rtf1 a\\tab b\\line c}") << u"a\tb\nc"_s;
    QTest::newRow("escapes") << QByteArray("{\\rtf1 a\\{b\\}c\\\\d}") << u"a{b}c\\d"_s;
    QTest::newRow("delimiter space only once")
        << QByteArray("{\\rtf1\\b  x\\b0\\i1 y}") << u" xy"_s;
    QTest::newRow("word ends at a non-letter") << QByteArray("{\\rtf1\\fs28text}") << u"text"_s;
    QTest::newRow("code page 1252")
        << QByteArray("{\\rtf1\\ansi\\ansicpg1252 caf\\'e9 \\'80\\'93\\'94\\'8a\\'9f}")
        << u"café €“”ŠŸ"_s;
    QTest::newRow("default code page is 1252") << QByteArray("{\\rtf1 \\'80}") << u"€"_s;
    QTest::newRow("raw code-page bytes") << QByteArray("{\\rtf1 caf\xe9}") << u"café"_s;
    QTest::newRow("utf-8 code page")
        << QByteArray("{\\rtf1\\ansicpg65001 \\'c3\\'a9\\'e2\\'82\\'ac}") << u"é€"_s;
    QTest::newRow("other code page as Latin-1")
        << QByteArray("{\\rtf1\\ansicpg1251 \\'80\\'e9}") << u"\u0080é"_s;
    QTest::newRow("unicode, fallback skipped")
        << QByteArray("{\\rtf1\\uc1 caf\\u233?s \\u26085?\\u26412?}") << u"cafés 日本"_s;
    QTest::newRow("fallback written as code-page byte")
        << QByteArray("{\\rtf1\\uc1\\u8364\\'80x}") << u"€x"_s;
    QTest::newRow("uc2") << QByteArray("{\\rtf1\\uc2\\u8364\\'80\\'80x}") << u"€x"_s;
    QTest::newRow("uc0") << QByteArray("{\\rtf1\\uc0\\u8364 x}") << u"€x"_s;
    QTest::newRow("uc is per group")
        << QByteArray("{\\rtf1\\uc1{\\uc2\\u233 ab}\\u233 cd}") << u"ééd"_s;
    QTest::newRow("group end stops the fallback")
        << QByteArray("{\\rtf1\\uc3{\\u233 a}bcd}") << u"ébcd"_s;
    QTest::newRow("negative unicode")
        << QByteArray("{\\rtf1\\u-3913?\\u-10179?\\u-8704?}") << u"\uF0B7\U0001F600"_s;
    QTest::newRow("special characters")
        << QByteArray("{\\rtf1 a\\~b\\emdash "
                      "c\\endash\\bullet\\lquote\\rquote\\ldblquote\\rdblquote\\_\\-}")
        << u"a\u00A0b\u2014c\u2013\u2022\u2018\u2019\u201C\u201D\u2011"_s;
    QTest::newRow("ignorable destinations, nested")
        << QByteArray("{\\rtf1 a{\\*\\unknown x{y{z}\\par}w}b{\\*\\generator Msftedit 5.41;}c}")
        << u"abc"_s;
    QTest::newRow("known destinations skipped")
        << QByteArray("{\\rtf1{\\info{\\title T}{\\author A}}{\\stylesheet{\\s0 Normal;}}"
                      "{\\pict\\wmetafile8 0123abcd}x{\\header h}{\\footnote n}y}")
        << u"xy"_s;
    QTest::newRow("field result shown, instruction not")
        << QByteArray("{\\rtf1{\\field{\\*\\fldinst HYPERLINK \"http://x\"}{\\fldrslt link}}}")
        << u"link"_s;
    QTest::newRow("binary data skipped")
        << QByteArray("{\\rtf1 a{\\*\\blob\\bin3 }{\\}b}") << u"ab"_s;
    QTest::newRow("unknown words ignored")
        << QByteArray("{\\rtf1\\foo12 x\\bar-5 y\\highlight3\\cb2 z}") << u"xyz"_s;
    QTest::newRow("text after the document ignored")
        << QByteArray("{\\rtf1 a}b{\\rtf1 c}") << u"a"_s;
    QTest::newRow("control characters dropped")
        << QByteArray("{\\rtf1 \\'01a\\'00\\'1fb\x01}") << u"ab"_s;
    QTest::newRow("leading white space") << QByteArray("\r\n {\\rtf1 x}") << u"x"_s;
    QTest::newRow("not rtf reads as text")
        << QByteArray("plain\r\ntext \xc3\xa9{}") << u"plain\ntext é{}"_s;
    QTest::newRow("empty") << QByteArray() << QString();
    QTest::newRow("hidden run") << QByteArray("{\\rtf1 a\\v b\\v0 c}") << u"ac"_s;
    QTest::newRow("hidden ends with its group") << QByteArray("{\\rtf1 a{\\v b}c}") << u"ac"_s;
    QTest::newRow("plain ends hidden") << QByteArray("{\\rtf1 a\\v b\\plain c}") << u"ac"_s;
    QTest::newRow("hidden paragraph keeps its break")
        << QByteArray("{\\rtf1 a\\v b\\par\\v0 c}") << u"a\nc"_s;
    QTest::newRow("hidden Unicode and bytes")
        << QByteArray("{\\rtf1 a{\\v \\u945? \\'e9}b}") << u"ab"_s;
}

void TestRtf::readPlainText()
{
    QFETCH(QByteArray, rtf);
    QFETCH(QString, text);
    QCOMPARE(RtfToPlainText(rtf), text);
}

void TestRtf::readRichEditDocument()
{
    // The shape a rich-edit input writes for two formatted paragraphs.
    const QByteArray rtf =
        Head + "{\\fonttbl{\\f0\\fnil\\fcharset0 Verdana;}{\\f1\\fswiss\\fprq2\\fcharset0 Arial;}}"
               "\r\n{\\colortbl ;\\red255\\green0\\blue0;\\red0\\green0\\blue0;}\r\n"
               "{\\*\\generator Msftedit 5.41.21.2510;}\\viewkind4\\uc1\\pard\\cf1\\b\\f0\\fs28 "
               "Bold red\\cf2\\b0  plain \\i\\f1\\fs20 italic Arial\\i0\\par\r\n"
               "\\ul under\\ulnone  \\strike gone\\strike0\\par\r\n}\r\n";
    const RichText text = RtfReader::read(rtf);
    const auto verdana = QStringLiteral("Verdana");
    const auto arial = QStringLiteral("Arial");
    const QList<RichParagraph> expected = {
        {{{u"Bold red"_s, fmt(verdana, 28, 0xFF0000, "b")},
          {u" plain "_s, fmt(verdana, 28, 0x000000)},
          {u"italic Arial"_s, fmt(arial, 20, 0x000000, "i")}}},
        {{{u"under"_s, fmt(arial, 20, 0x000000, "u")},
          {u" "_s, fmt(arial, 20, 0x000000)},
          {u"gone"_s, fmt(arial, 20, 0x000000, "s")}}},
        {},
    };
    QCOMPARE(text.paragraphs().size(), expected.size());
    for (qsizetype i = 0; i < expected.size(); ++i) {
        QCOMPARE(text.paragraphs().at(i).text(), expected.at(i).text());
        QVERIFY2(text.paragraphs().at(i) == expected.at(i), qPrintable(QString::number(i)));
    }
}

void TestRtf::readGroupsAndResets()
{
    const QByteArray rtf =
        "{\\rtf1\\deff0{\\fonttbl\\f0\\froman Times;\\f1 "
        "Courier;}{\\colortbl;\\red1\\green2\\blue3;}"
        "\\f1\\fs30\\cf1 a{\\b\\f0\\ul b}c\\plain d\\cf0 e\\cf7 f\\f9\\fs0 g\\ulnone\\ul0 h}";
    const RichText text = RtfReader::read(rtf);
    const auto times = QStringLiteral("Times");
    const auto courier = QStringLiteral("Courier");
    const RichParagraph expected{{
        {u"a"_s, fmt(courier, 30, 0x010203)},
        {u"b"_s, fmt(times, 30, 0x010203, "bu")},
        {u"c"_s, fmt(courier, 30, 0x010203)},
        {u"def"_s, fmt(times, 24, std::nullopt)},    // \cf0 and a missing colour are automatic
        {u"gh"_s, fmt(QString(), 24, std::nullopt)}, // unknown font, size reset
    }};
    QCOMPARE(text.paragraphs().size(), 1);
    QCOMPARE(text.paragraphs().first().text(), expected.text());
    QVERIFY(text.paragraphs().first() == expected);
}

void TestRtf::readHostile_data()
{
    QTest::addColumn<QByteArray>("rtf");
    QTest::addColumn<QString>("text");

    const int deep = 100000;
    QTest::newRow("unclosed") << QByteArray("{\\rtf1 ok") << u"ok"_s;
    QTest::newRow("too many closes") << QByteArray("{\\rtf1 a}}}}b") << u"a"_s;
    QTest::newRow("deep nesting") << "{\\rtf1 " + QByteArray(deep, '{') + "x" +
                                         QByteArray(deep, '}') + "y}"
                                  << u"xy"_s;
    QTest::newRow("deep nesting, never closed")
        << "{\\rtf1 " + QByteArray(deep, '{') + "x" << u"x"_s;
    QTest::newRow("ignorable mark beyond the depth limit")
        << "{\\rtf1 " + QByteArray(300, '{') + "\\*x" + QByteArray(300, '}') + "y}" << u"y"_s;
    QTest::newRow("lone backslash at end") << QByteArray("{\\rtf1 a\\") << u"a"_s;
    QTest::newRow("cut hex escape") << QByteArray("{\\rtf1 a\\'4") << u"a4"_s;
    QTest::newRow("bad hex escape") << QByteArray("{\\rtf1 a\\'zzb}") << u"azzb"_s;
    QTest::newRow("huge binary length") << QByteArray("{\\rtf1 \\bin999999999 abc}") << QString();
    QTest::newRow("negative binary length") << QByteArray("{\\rtf1 \\bin-5 abc}") << u"abc"_s;
    QTest::newRow("unicode out of range") << QByteArray("{\\rtf1 \\u99999999?x}") << u"x"_s;
    QTest::newRow("huge fallback count")
        << QByteArray("{\\rtf1 \\uc99999 \\u233 abcdef}g}") << u"é"_s;
    QTest::newRow("lone surrogate")
        << QByteArray("{\\rtf1 \\u-10179?a\\u-8704?}") << u"\uFFFDa\uFFFD"_s;
    QTest::newRow("wild parameters")
        << QByteArray("{\\rtf1\\fs-5\\fs99999999999999\\cf99999\\cf-3\\f-1 x}") << u"x"_s;
    QTest::newRow("endless control word") << "{\\rtf1\\" + QByteArray(deep, 'a') + " x}" << u"x"_s;
    QTest::newRow("endless parameter") << "{\\rtf1\\b" + QByteArray(1000, '9') + " x}" << u"x"_s;
    QTest::newRow("endless font name")
        << "{\\rtf1{\\fonttbl{\\f0 " + QByteArray(deep, 'N') + ";}}\\f0 x}" << u"x"_s;
    QTest::newRow("endless colour table")
        << "{\\rtf1{\\colortbl" + QByteArray(deep, ';') + "}\\cf50000 x}" << u"x"_s;
    QTest::newRow("only the start") << QByteArray("{\\rtf") << QString();
    QTest::newRow("braces, not rtf") << QByteArray("}}}{{{") << u"}}}{{{"_s;
    QTest::newRow("binary garbage")
        << QByteArray("\0\xff\xfe garbage", 11) << u"\uFFFD\uFFFD garbage"_s;
}

void TestRtf::readHostile()
{
    QFETCH(QByteArray, rtf);
    QFETCH(QString, text);
    const RichText read = RtfReader::read(rtf);
    checkSane(rtf, read);
    QCOMPARE(read.plainText(), text);
}

void TestRtf::readMutatedDocuments()
{
    const QList<QByteArray> seeds = {
        RtfFromPlainText(u"Hello {world} \\ é 日\U0001F600\tx\ny"_s),
        ChatLines::OwnLineHeader(true, u"Alice"_s, u"Bob"_s, Stamp),
        QByteArray("{\\rtf1{\\fonttbl{\\f0 A;}}{\\colortbl;\\red1\\green2\\blue3;}\\uc2"
                   "{\\*\\x{\\bin2 }}}\\u233\\'e9\\'e9\\pict{\\cf1\\b a\\plain}\\par}"),
    };
    const QByteArray alphabet("{}\\'*;-0123456789abfuxrtp \r\n\xe9");
    QRandomGenerator rng(20240305);
    for (int round = 0; round < 3000; ++round) {
        QByteArray doc = seeds.at(round % seeds.size());
        const int edits = 1 + int(rng.bounded(8));
        for (int e = 0; e < edits; ++e) {
            const qsizetype at = qsizetype(rng.bounded(int(doc.size()) + 1));
            switch (rng.bounded(3)) {
            case 0:
                doc.insert(at, alphabet.at(int(rng.bounded(int(alphabet.size())))));
                break;
            case 1:
                doc.remove(at, 1 + int(rng.bounded(4)));
                break;
            default:
                doc.insert(at, doc.mid(qsizetype(rng.bounded(int(doc.size()) + 1)), 6));
                break;
            }
        }
        const RichText read = RtfReader::read(doc);
        checkSane(doc, read);
        if (QTest::currentTestFailed()) {
            qWarning() << "document:" << doc;
            return;
        }
    }
}

void TestRtf::codePageBytesRoundTrip()
{
    for (int b = 0; b < 256; ++b) {
        const char16_t c = Windows1252::toUnicode(uchar(b));
        QCOMPARE(Windows1252::fromUnicode(c), b);
    }
    QCOMPARE(Windows1252::fromUnicode(u'\u0080'), -1); // € owns byte 0x80
    QCOMPARE(Windows1252::fromUnicode(u'\u0100'), -1);
}

void TestRtf::writePlain_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QByteArray>("rtf");

    QTest::newRow("simple") << u"Hello"_s << PlainHead + " Hello\\par\r\n}\r\n";
    QTest::newRow("empty") << QString() << PlainHead + "\\par\r\n}\r\n";
    QTest::newRow("lines") << u"a\nb"_s << PlainHead + " a\\par\r\nb\\par\r\n}\r\n";
    QTest::newRow("crlf and blank line")
        << u"a\r\n\r\nb"_s << PlainHead + " a\\par\r\n\\par\r\nb\\par\r\n}\r\n";
    QTest::newRow("final newline kept") << u"a\n"_s << PlainHead + " a\\par\r\n\\par\r\n}\r\n";
    QTest::newRow("escapes") << u"{x}\\y"_s << PlainHead + " \\{x\\}\\\\y\\par\r\n}\r\n";
    QTest::newRow("code page") << u"café €5"_s << PlainHead + " caf\\'e9 \\'805\\par\r\n}\r\n";
    QTest::newRow("unicode") << u"日本"_s << PlainHead + " \\u26085?\\u26412?\\par\r\n}\r\n";
    QTest::newRow("surrogate pair")
        << QString::fromUcs4(U"\U0001F600") << PlainHead + " \\u-10179?\\u-8704?\\par\r\n}\r\n";
    QTest::newRow("tab") << u"a\tb\t"_s << PlainHead + " a\\tab b\\tab \\par\r\n}\r\n";
    QTest::newRow("line break") << u"x\u2028y"_s << PlainHead + " x\\line y\\par\r\n}\r\n";
    QTest::newRow("control characters dropped")
        << u"be\u0007ll\u0000"_s << PlainHead + " bell\\par\r\n}\r\n";
    QTest::newRow("leading digit and space") << u" 1"_s << PlainHead + "  1\\par\r\n}\r\n";
}

void TestRtf::writePlain()
{
    QFETCH(QString, text);
    QFETCH(QByteArray, rtf);
    QCOMPARE(RtfFromPlainText(text), rtf);
}

void TestRtf::writeFormatted()
{
    RichText text;
    text.appendText(u"Bold"_s, fmt(u"Arial"_s, 20, 0xFF0000, "b"));
    text.appendText(u" and "_s, fmt(QString(), 28, 0x000000));
    text.breakParagraph();
    text.appendText(u"u"_s, fmt(u"Verdana"_s, 28, 0x000000, "iu"));
    text.appendText(u"s"_s, fmt(u"Verdana"_s, 28, std::nullopt, "s"));
    text.breakParagraph();
    const QByteArray expected =
        Head + "{\\fonttbl{\\f0\\fnil\\fcharset0 Arial;}{\\f1\\fnil\\fcharset0 Verdana;}}"
               "{\\colortbl ;\\red255\\green0\\blue0;\\red0\\green0\\blue0;}"
               "\\viewkind4\\uc1\\pard\\cf1\\b\\f0\\fs20 Bold\\cf2\\b0\\f1\\fs28  and \\par\r\n"
               "\\i\\ul u\\cf0\\i0\\ulnone\\strike s\\par\r\n}\r\n";
    QCOMPARE(RtfWriter::write(text), expected);
}

void TestRtf::roundTripPlainText()
{
    QRandomGenerator rng(8410);
    const QByteArray end(RtfDocumentEnd);
    for (int round = 0; round < 500; ++round) {
        const QString text = randomText(rng, 60, true);
        const QByteArray rtf = RtfFromPlainText(text);
        QCOMPARE(RtfToPlainText(rtf), normalizedBreaks(text));
        // The document end occurs once, at the end: queues split where documents end.
        QCOMPARE(rtf.indexOf(end), rtf.size() - end.size());
        QCOMPARE(ChatLines::SplitQueueDocuments(rtf + rtf), (QList<QByteArray>{rtf, rtf}));
    }
}

void TestRtf::roundTripFormatted()
{
    const QStringList faces = {u"Verdana"_s, u"Times New Roman"_s, u"Ärial 日"_s, u"{Odd}\\Face"_s};
    QRandomGenerator rng(65535);
    for (int round = 0; round < 300; ++round) {
        RichText text;
        const int paragraphs = 1 + int(rng.bounded(4));
        for (int p = 0; p < paragraphs; ++p) {
            const int runs = int(rng.bounded(5));
            for (int r = 0; r < runs; ++r) {
                RichFormat f;
                f.face = faces.at(int(rng.bounded(int(faces.size()))));
                f.halfPoints = 1 + int(rng.bounded(3276));
                if (rng.bounded(3) > 0)
                    f.color = rng.bounded(0x1000000u);
                const quint32 bits = rng.bounded(16u);
                f.bold = bits & 1;
                f.italic = bits & 2;
                f.underline = bits & 4;
                f.strikeOut = bits & 8;
                text.appendText(randomText(rng, 12, false), f);
            }
            text.breakParagraph();
        }
        const QByteArray rtf = RtfWriter::write(text);
        const RichText read = RtfReader::read(rtf);
        QCOMPARE(read.plainText(), text.plainText());
        QVERIFY2(read == text, rtf.constData());
        QCOMPARE(rtf.indexOf(RtfDocumentEnd), rtf.size() - qsizetype(strlen(RtfDocumentEnd)));
    }
}

void TestRtf::chatPieces_data()
{
    QTest::addColumn<QByteArray>("piece");
    QTest::addColumn<QByteArray>("expected");

    const QByteArray ownHead =
        "{\\rtf1\\ansi\\ansicpg1252\\deff0\\deflang1033{\\fonttbl{\\f0\\fnil\\fcharset0 Verdana;}"
        "{\\f1\\froman\\fprq2\\fcharset2 Webdings;}}{\\colortbl "
        ";\\red70\\green171\\blue70;\\red0\\green0\\blue0;}"
        "\\viewkind4\\uc1\\pard\\cf1\\b\\f0\\fs20";
    const QByteArray peerHead =
        "{\\rtf1\\ansi\\ansicpg1252\\deff0\\deflang1033{\\fonttbl{\\f0\\fnil\\fcharset0 Verdana;}}"
        "{\\colortbl ;\\red0\\green85\\blue229;\\red0\\green0\\blue0;}"
        "\\viewkind4\\uc1\\pard\\cf1\\b\\f0\\fs20";
    const QByteArray stamp = "(01:04:05 PM) Tuesday 03/05/24";

    QTest::newRow("own line, empty pane")
        << ChatLines::OwnLineHeader(false, u"Alice"_s, u"Bob, Carol"_s, Stamp)
        << ownHead + " Alice \\f1 4\\f0  Bob, Carol:\\cf2\\b0\\fs16  " + stamp + "\\par}";
    QTest::newRow("own line, later")
        << ChatLines::OwnLineHeader(true, u"Alice"_s, u"Bob"_s, Stamp)
        << ownHead + "\\par Alice \\f1 4\\f0  Bob:\\cf2\\b0\\fs16  " + stamp + "\\par}";
    QTest::newRow("peer line, empty pane")
        << ChatLines::PeerLineHeader(false, u"Bob"_s, Stamp)
        << peerHead + " Bob:\\cf2\\b0\\fs16  " + stamp + "\\par}";
    QTest::newRow("peer line, later")
        << ChatLines::PeerLineHeader(true, u"Bob"_s, Stamp)
        << peerHead + "\\par Bob:\\cf2\\b0\\fs16  " + stamp + "\\par}";
    QTest::newRow("queued notice")
        << ChatLines::QueuedNotice()
        << QByteArray("{\\rtf1\\ansi\\ansicpg1252\\deff0\\deflang1033{\\fonttbl{\\f0\\fnil"
                      "\\fcharset0 Verdana;}}{\\colortbl ;\\red255\\green0\\blue0;}\\viewkind4"
                      "\\uc1\\pard\\cf1\\f0\\fs16 An Offline Message was Queued\\par\r\n}");
    QTest::newRow("queued piece")
        << ChatLines::QueuedPiece(Stamp, "{\\rtf1 m\\par\r\n}\r\n")
        << "{\\rtf1\\ansi\\ansicpg1252\\deff0\\deflang1033{\\fonttbl{\\f0\\fnil\\fcharset0 "
           "Verdana;}}{\\colortbl ;\\red255\\green0\\blue0;}\\viewkind4\\uc1\\pard\\cf1\\f0"
           "\\fs16 Offline Message sent at: \\cf0 " +
               stamp + "\\par\r\n}\r\n{\\rtf1 m\\par\r\n}\r\n";
}

void TestRtf::chatPieces()
{
    QFETCH(QByteArray, piece);
    QFETCH(QByteArray, expected);
    QCOMPARE(piece, expected);
}

void TestRtf::headersEscapeNames_data()
{
    QTest::addColumn<QString>("sender");
    QTest::addColumn<QString>("recipients");
    QTest::addColumn<QByteArray>("escapedSender");
    QTest::addColumn<QString>("shownSender");

    QTest::newRow("braces and backslash")
        << u"{x}\\"_s << u"Bob"_s << QByteArray("\\{x\\}\\\\") << u"{x}\\"_s;
    QTest::newRow("non-ASCII") << u"Zoë 日"_s << u"Ĉu"_s << QByteArray("Zo\\'eb \\u26085?")
                               << u"Zoë 日"_s;
    QTest::newRow("control words in a name")
        << u"\\par\\b x"_s << u"\\}"_s << QByteArray("\\\\par\\\\b x") << u"\\par\\b x"_s;
    QTest::newRow("document end in a name")
        << u"a\\par\r\n}\r\n"_s << u"b\n}"_s << QByteArray("a\\\\par  \\}  ") << u"a\\par  }  "_s;
    QTest::newRow("tab") << u"a\tb"_s << u"c"_s << QByteArray("a\\tab b") << u"a\tb"_s;
}

void TestRtf::headersEscapeNames()
{
    QFETCH(QString, sender);
    QFETCH(QString, recipients);
    QFETCH(QByteArray, escapedSender);
    QFETCH(QString, shownSender);

    QCOMPARE(RtfEscapeText(sender), escapedSender);
    const QString shownRecipients = QString(recipients).replace(u'\n', u' ');
    const QByteArray own = ChatLines::OwnLineHeader(false, sender, recipients, Stamp);
    QVERIFY(own.contains(" " + escapedSender + " \\f1 4"));
    QCOMPARE(RtfToPlainText(own), shownSender + u" 4 "_s + shownRecipients + u": "_s + Stamp);
    const QByteArray peer = ChatLines::PeerLineHeader(true, sender, Stamp);
    QCOMPARE(RtfToPlainText(peer), u"\n"_s + shownSender + u": "_s + Stamp);
    // A name never ends a queued document early.
    QCOMPARE(ChatLines::SplitQueueDocuments(ChatLines::QueuedPieceHeader(sender)).size(), 1);
    QVERIFY(!own.contains(RtfDocumentEnd));
}

void TestRtf::splitQueue_data()
{
    QTest::addColumn<QByteArray>("queue");
    QTest::addColumn<QList<QByteArray>>("documents");

    const QByteArray d1 = "{\\rtf1 one\\par\r\n}\r\n";
    const QByteArray d2 = "{\\rtf1 two\\par\r\n}\r\n";
    const QByteArray rest = "{\\rtf1 rest}";
    const QByteArray header = ChatLines::QueuedPieceHeader(Stamp);

    QTest::newRow("empty") << QByteArray() << QList<QByteArray>{};
    QTest::newRow("one") << d1 << QList<QByteArray>{d1};
    QTest::newRow("two") << d1 + d2 << QList<QByteArray>{d1, d2};
    QTest::newRow("trailing rest kept") << d1 + d2 + rest << QList<QByteArray>{d1, d2, rest};
    QTest::newRow("only a rest") << rest << QList<QByteArray>{rest};
    QTest::newRow("white space after the last") << d1 + "\r\n " << QList<QByteArray>{d1};
    QTest::newRow("par without the brace is no end")
        << QByteArray("{\\rtf1 a\\par\r\n}b\\par\r\n}\r\n")
        << QList<QByteArray>{"{\\rtf1 a\\par\r\n}b\\par\r\n}\r\n"};
    QTest::newRow("queued pieces")
        << ChatLines::QueuedPiece(Stamp, d1) + ChatLines::QueuedPiece(Stamp, d2)
        << QList<QByteArray>{header, d1, header, d2};
}

void TestRtf::splitQueue()
{
    QFETCH(QByteArray, queue);
    QFETCH(QList<QByteArray>, documents);
    QCOMPARE(ChatLines::SplitQueueDocuments(queue), documents);
}

void TestRtf::timeStamp_data()
{
    QTest::addColumn<QDateTime>("when");
    QTest::addColumn<QString>("text");

    QTest::newRow("afternoon") << QDateTime(QDate(2024, 3, 5), QTime(13, 4, 5))
                               << u"(01:04:05 PM) Tuesday 03/05/24"_s;
    QTest::newRow("midnight") << QDateTime(QDate(2009, 12, 27), QTime(0, 0, 0))
                              << u"(12:00:00 AM) Sunday 12/27/09"_s;
    QTest::newRow("noon hour") << QDateTime(QDate(2021, 7, 31), QTime(12, 59, 59))
                               << u"(12:59:59 PM) Saturday 07/31/21"_s;
    QTest::newRow("morning, year 2000")
        << QDateTime(QDate(2000, 1, 1), QTime(11, 0, 9)) << u"(11:00:09 AM) Saturday 01/01/00"_s;
    QTest::newRow("UTC shown in local time")
        << QDateTime(QDate(2024, 3, 5), QTime(23, 30, 0), Qt::UTC)
        << u"(08:30:00 AM) Wednesday 03/06/24"_s;
}

void TestRtf::timeStamp()
{
    QFETCH(QDateTime, when);
    QFETCH(QString, text);
    QCOMPARE(ChatLines::TimeStamp(when), text);
}

QTEST_GUILESS_MAIN(TestRtf)
#include "tst_rtf.moc"
