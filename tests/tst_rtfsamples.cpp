// Documents as other programs write them (office suites, system editors) and
// as this program writes them: what they show, and what any truncation of
// them shows.

#include "messenger/rtfreader.h"
#include "messenger/rtfwriter.h"

#include <QFile>
#include <QTest>

using namespace Qt::StringLiterals;

namespace {

QByteArray sample(const QString& name)
{
    QFile f(QStringLiteral(ZL_RTF_SAMPLES "/") + name);
    if (!f.open(QIODevice::ReadOnly))
        qFatal("sample %s missing", qPrintable(name));
    return f.readAll();
}

// Expected look of a piece of text: "face|half points|rrggbb or auto|flags",
// flags b, i, u, s in that order.
QString describe(const RichFormat& f)
{
    QString flags;
    if (f.bold)
        flags += u'b';
    if (f.italic)
        flags += u'i';
    if (f.underline)
        flags += u'u';
    if (f.strikeOut)
        flags += u's';
    const QString color =
        f.color ? u"%1"_s.arg(*f.color, 6, 16, QLatin1Char('0')) : QStringLiteral("auto");
    return u"%1|%2|%3|%4"_s.arg(f.face).arg(f.halfPoints).arg(color, flags);
}

// The format of the run that is text (white space aside), else of the first
// run holding it.
QString lookOf(const RichText& doc, const QString& text)
{
    for (const RichParagraph& p : doc.paragraphs()) {
        for (const RichRun& r : p.runs) {
            if (r.text.trimmed() == text)
                return describe(r.format);
        }
    }
    for (const RichParagraph& p : doc.paragraphs()) {
        for (const RichRun& r : p.runs) {
            if (r.text.contains(text))
                return describe(r.format);
        }
    }
    return u"missing"_s;
}

} // namespace

class TestRtfSamples : public QObject
{
    Q_OBJECT

private slots:
    void samples_data();
    void samples();
    void truncated_data();
    void truncated();
    void separators_data();
    void separators();
};

void TestRtfSamples::samples_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QStringList>("looks"); // "piece=look"

    QTest::newRow("rich edit of a desktop word processor")
        << u"wordpad.rtf"_s
        << u"Plain bold italic under gone\nRed Arial 14\nCaf\u00e9 \u20ac na\u00efve\ttabbed "
           u"\u03b1\n\u00b7\tbullet"_s
        << QStringList{u"Plain=Calibri|22|auto|"_s,      u"bold=Calibri|22|auto|b"_s,
                       u"italic=Calibri|22|auto|i"_s,    u"under=Calibri|22|auto|u"_s,
                       u"gone=Calibri|22|auto|s"_s,      u"Red Arial=Arial|28|ff0000|"_s,
                       u"na\u00efve=Calibri|22|auto|"_s, u"bullet=Calibri|22|004dbb|"_s};
    QTest::newRow("office suite")
        << u"libreoffice.rtf"_s
        << u"Writer says bold and red italic 16\nlink \u20ac \u03b1  end\nSans underlined"_s
        << QStringList{
               u"Writer says=Liberation Serif|24|auto|"_s, u"bold=Liberation Serif|24|auto|b"_s,
               u"red italic=Liberation Serif|32|c9211e|i"_s, u"link=Liberation Serif|24|auto|"_s,
               u"Sans underlined=Liberation Sans|20|auto|u"_s};
    QTest::newRow("system text editor")
        << u"textedit.rtf"_s
        << u"Hello from the Mac\nred underlined struck\ncode\nnext \u2713 \u2013 done"_s
        << QStringList{u"Hello from=Helvetica|24|auto|"_s, u"the Mac=Helvetica-Bold|24|auto|b"_s,
                       u"red=Helvetica|24|fb0207|"_s,      u"underlined=Helvetica|24|fb0207|u"_s,
                       u"struck=Helvetica|24|fb0207|s"_s,  u"code=Menlo-Regular|22|auto|"_s,
                       u"done=Menlo-Regular|22|auto|"_s};
    QTest::newRow("own line header")
        << u"ownline.rtf"_s << u"Alice 4 Bob: (01:04:05 PM) Tuesday 03/05/24"_s
        << QStringList{u"Alice=Verdana|20|46ab46|b"_s, u"4=Webdings|20|46ab46|b"_s,
                       u"(01:04:05 PM)=Verdana|16|000000|"_s};
    QTest::newRow("message input")
        << u"message.rtf"_s << u"plain bold blue u s mono caf\u00e9 \u4e2d\tx"_s
        << QStringList{u"plain=Verdana|28|000000|"_s, u"blue=Verdana|28|1280ef|bi"_s,
                       u"u=Verdana|28|000000|u"_s, u"mono=Courier New|20|000000|"_s,
                       u"caf\u00e9=Verdana|28|000000|"_s};
}

void TestRtfSamples::samples()
{
    QFETCH(QString, file);
    QFETCH(QString, text);
    QFETCH(QStringList, looks);

    const RichText doc = RtfReader::read(sample(file));
    QCOMPARE(doc.plainText(), text);
    for (const QString& look : looks) {
        const QString piece = look.section(u'=', 0, 0);
        QCOMPARE(piece + u'=' + lookOf(doc, piece), look);
    }
    // Written the way the message input writes it, it reads back the same.
    const QByteArray written = RtfWriter::write(doc);
    QVERIFY(written.endsWith(RtfDocumentEnd));
    QCOMPARE(RtfReader::read(written).plainText(), text);
    for (const QString& look : looks) {
        const QString piece = look.section(u'=', 0, 0);
        if (piece != u"4"_s)
            QCOMPARE(piece + u'=' + lookOf(RtfReader::read(written), piece), look);
    }
}

void TestRtfSamples::truncated_data()
{
    QTest::addColumn<QString>("file");
    for (const char* f : {"wordpad.rtf", "libreoffice.rtf", "textedit.rtf", "message.rtf"})
        QTest::newRow(f) << QString::fromLatin1(f);
}

void TestRtfSamples::truncated()
{
    QFETCH(QString, file);
    const QByteArray whole = sample(file);
    const QString full = RtfReader::read(whole).plainText();
    // Cut before "{\rtf" it is no document and reads as plain text.
    for (qsizetype n = 5; n <= whole.size(); ++n) {
        const RichText part = RtfReader::read(whole.left(n));
        QString text = part.plainText();
        // A cut inside a number or an escape may change the last character only.
        text.chop(1);
        if (!full.startsWith(text))
            QFAIL(qPrintable(u"cut at %1 reads \"%2\""_s.arg(n).arg(text)));
        for (const RichParagraph& p : part.paragraphs()) {
            for (const RichRun& r : p.runs) {
                QVERIFY(r.format.halfPoints >= 1 && r.format.halfPoints <= 3276);
                for (QChar c : r.text)
                    QVERIFY(c.unicode() >= 0x20 || c == u'\t');
            }
        }
    }
}

void TestRtfSamples::separators_data()
{
    QTest::addColumn<QByteArray>("rtf");
    QTest::addColumn<int>("paragraphs");

    QTest::newRow("paragraph separator as \\u") << QByteArray("{\\rtf1 a\\u8233?b}") << 2;
    QTest::newRow("paragraph separator in UTF-8")
        << QByteArray("{\\rtf1\\ansicpg65001 a\\'e2\\'80\\'a9b}") << 2;
    QTest::newRow("line separator stays in its paragraph")
        << QByteArray("{\\rtf1 a\\u8232?b}") << 1;
}

void TestRtfSamples::separators()
{
    QFETCH(QByteArray, rtf);
    QFETCH(int, paragraphs);
    const RichText text = RtfReader::read(rtf);
    QCOMPARE(text.paragraphs().size(), paragraphs);
    // What the writer makes of it reads back the same.
    QCOMPARE(RtfReader::read(RtfWriter::write(text)).plainText(), text.plainText());
    QCOMPARE(RtfReader::read(RtfWriter::write(text)).paragraphs().size(), paragraphs + 1);
}

QTEST_GUILESS_MAIN(TestRtfSamples)
#include "tst_rtfsamples.moc"
