#include "tst_controller_support.h"

#include "messenger/chatlines.h"
#include "records/contact.h"
#include "shell/chatdlg.h"
#include "shell/msgrichedit2.h"
#include "shell/richtextbridge.h"

#include <QApplication>
#include <QClipboard>
#include <QColorDialog>
#include <QDesktopServices>
#include <QFontDatabase>
#include <QLabel>
#include <QMenu>
#include <QMimeData>
#include <QPushButton>
#include <QScrollBar>
#include <QSplitter>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>

using namespace Qt::StringLiterals;

namespace {

const QDateTime When(QDate(2024, 3, 5), QTime(13, 4, 5));
const QString Stamp = u"(01:04:05 PM) Tuesday 03/05/24"_s;

// How a piece of the pane's text looks: colour (-1: the pane's own text
// colour), weight and size.
struct Span
{
    QString text;
    int rgb = -1;
    bool bold = false;
    qreal points = 0;
};
using Spans = QList<Span>;

QTextCharFormat formatAt(const QTextDocument& doc, const QString& text)
{
    const QTextCursor found = doc.find(text);
    if (found.isNull())
        return QTextCharFormat();
    QTextCursor at(const_cast<QTextDocument*>(&doc));
    at.setPosition(found.selectionStart() + 1);
    return at.charFormat();
}

bool checkSpans(const QTextDocument& doc, const Spans& spans)
{
    for (const Span& s : spans) {
        if (doc.find(s.text).isNull()) {
            qWarning() << "missing" << s.text;
            return false;
        }
        const RichFormat f = RichTextBridge::richFormat(formatAt(doc, s.text));
        const int rgb = f.color ? int(*f.color) : -1;
        if (rgb != s.rgb || f.bold != s.bold || f.halfPoints != qRound(s.points * 2)) {
            qWarning() << s.text << "colour" << Qt::hex << rgb << "bold" << f.bold << "half points"
                       << Qt::dec << f.halfPoints;
            return false;
        }
    }
    return true;
}

QByteArray message(const QString& text, bool bold = false)
{
    RichFormat f = RichFormat::chatDefault();
    f.bold = bold;
    return RtfFromPlainText(text, f);
}

Contact bob()
{
    Contact c = NewContact();
    c.uid = QByteArray("bob-uid-0001");
    c.name = QStringLiteral("Bob");
    c.ip = QStringLiteral("127.0.0.1");
    c.status = StatusOffline;
    return c;
}

} // namespace

Q_DECLARE_METATYPE(Span)

class UrlRecorder : public QObject
{
    Q_OBJECT
public:
    QList<QUrl> opened;
public slots:
    void open(const QUrl& url) { opened.append(url); }
};

class TestChatWindow : public QObject
{
    Q_OBJECT

private slots:
    void paneLines_data();
    void paneLines();
    void incrementalMatchesFullRedraw();
    void trimToTenThousand();
    void scrollRule();
    void webAddressesBecomeLinks();
    void formattedRoundTrip_data();
    void formattedRoundTrip();
    void inputLimit_data();
    void inputLimit();
    void typingReports();
    void contextMenuToggles_data();
    void contextMenuToggles();
    void choosersApplyToTheSelection();
    void clearScreenClearsTheHistory();
    void caption_data();
    void caption();
    void sendQueuesAndShowsTheLine();
    void keysAndClose();
    void splitterAndMinimumSize();
    void drops_data();
    void drops();

private:
    std::unique_ptr<Core> m_core;
    Contact* m_bob = nullptr;
    void startCore();
};

void TestChatWindow::startCore()
{
    if (m_core)
        return;
    m_core = std::make_unique<Core>(u"Alice"_s);
    m_core->prepare({bob()});
    QVERIFY(m_core->start());
    QCOMPARE(m_core->c->contactCount(), 1);
    m_bob = m_core->c->contactAt(0);
}

void TestChatWindow::paneLines_data()
{
    QTest::addColumn<int>("kind");
    QTest::addColumn<bool>("paneHasText");
    QTest::addColumn<QString>("text");
    QTest::addColumn<Spans>("spans");
    // The documents that reach the pane, byte for byte, after "earlier".
    QTest::addColumn<QByteArrayList>("pieces");

    const QByteArray stamp = Stamp.toLatin1();
    const QByteArray ownHead =
        R"({\rtf1\ansi\ansicpg1252\deff0\deflang1033{\fonttbl{\f0\fnil\fcharset0 Verdana;})"
        R"({\f1\froman\fprq2\fcharset2 Webdings;}}{\colortbl ;\red70\green171\blue70;)"
        R"(\red0\green0\blue0;}\viewkind4\uc1\pard\cf1\b\f0\fs20)";
    const QByteArray peerHead =
        R"({\rtf1\ansi\ansicpg1252\deff0\deflang1033{\fonttbl{\f0\fnil\fcharset0 Verdana;}})"
        R"({\colortbl ;\red0\green85\blue229;\red0\green0\blue0;}\viewkind4\uc1\pard\cf1)"
        R"(\b\f0\fs20)";
    const QByteArray queuedNotice =
        "{\\rtf1\\ansi\\ansicpg1252\\deff0\\deflang1033{\\fonttbl{\\f0\\fnil\\fcharset0 "
        "Verdana;}}{\\colortbl ;\\red255\\green0\\blue0;}\\viewkind4\\uc1\\pard\\cf1\\f0"
        "\\fs16 An Offline Message was Queued\\par\r\n}";
    const QByteArray hello = message(u"Hello"_s);
    const QByteArray tail = R"(:\cf2\b0\fs16  )" + stamp + R"(\par})";

    const int green = 0x46AB46, blue = 0x0055E5, black = 0, red = 0xFF0000;
    // The own line's arrow is a Webdings character, shown as the arrow it is.
    QTest::newRow("own line, empty pane")
        << int(PaneLine::Own) << false << u"Alice \u25B6 Bob, Carol: "_s + Stamp + u"\nHello"_s
        << Spans{{u"Alice"_s, green, true, 10},
                 {u"Bob, Carol:"_s, green, true, 10},
                 {Stamp, black, false, 8},
                 {u"Hello"_s, black, false, 14}}
        << QByteArrayList{ownHead + R"( Alice \f1 4\f0  Bob, Carol)" + tail, hello};
    QTest::newRow("own line after another")
        << int(PaneLine::Own) << true
        << u"earlier\n\nAlice \u25B6 Bob, Carol: "_s + Stamp + u"\nHello"_s
        << Spans{{u"Alice"_s, green, true, 10}, {u"Hello"_s, black, false, 14}}
        << QByteArrayList{ownHead + R"(\par Alice \f1 4\f0  Bob, Carol)" + tail, hello};
    QTest::newRow("queued own line")
        << int(PaneLine::QueuedOwn) << false
        << u"Alice \u25B6 Bob: "_s + Stamp + u"\nAn Offline Message was Queued\nHello"_s
        << Spans{{u"Bob:"_s, green, true, 10},
                 {u"An Offline Message was Queued"_s, red, false, 8},
                 {u"Hello"_s, black, false, 14}}
        << QByteArrayList{ownHead + R"( Alice \f1 4\f0  Bob)" + tail, queuedNotice, hello};
    QTest::newRow("peer line") << int(PaneLine::Peer) << true
                               << u"earlier\n\nBob: "_s + Stamp + u"\nHello"_s
                               << Spans{{u"Bob:"_s, blue, true, 10},
                                        {Stamp, black, false, 8},
                                        {u"Hello"_s, black, true, 14}}
                               << QByteArrayList{peerHead + R"(\par Bob)" + tail,
                                                 message(u"Hello"_s, true)};
    QTest::newRow("queued peer lines")
        << int(PaneLine::QueuedPeer) << false
        << u"Bob: "_s + Stamp +
               u"\nOffline Message sent at: T1\nHello\nOffline Message sent at: T2\nagain"_s
        << Spans{{u"Bob:"_s, blue, true, 10},
                 {u"Offline Message sent at:"_s, red, false, 8},
                 {u"T1"_s, -1, false, 8},
                 {u"again"_s, black, false, 14}}
        << QByteArrayList{peerHead + R"( Bob)" + tail, ChatLines::QueuedPieceHeader(u"T1"_s), hello,
                          ChatLines::QueuedPieceHeader(u"T2"_s), message(u"again"_s)};
}

void TestChatWindow::paneLines()
{
    QFETCH(int, kind);
    QFETCH(bool, paneHasText);
    QFETCH(QString, text);
    QFETCH(Spans, spans);
    QFETCH(QByteArrayList, pieces);

    CMsgRichEdit2 pane;
    pane.InitHistory();
    if (paneHasText)
        pane.StreamInAtEnd(RtfFromPlainText(u"earlier"_s));
    ChatHistory& h = pane.history();
    switch (kind) {
    case PaneLine::Own:
        h.AppendOwnLine(u"Alice"_s, u"Bob, Carol"_s, message(u"Hello"_s), When);
        break;
    case PaneLine::QueuedOwn:
        h.AppendQueuedOwnLine(u"Alice"_s, u"Bob"_s, message(u"Hello"_s), When);
        break;
    case PaneLine::Peer:
        h.AppendPeerLine(u"Bob"_s, message(u"Hello"_s, true), When);
        break;
    case PaneLine::QueuedPeer:
        h.AppendQueuedPeerLines(u"Bob"_s,
                                ChatLines::QueuedPiece(u"T1"_s, message(u"Hello"_s)) +
                                    ChatLines::QueuedPiece(u"T2"_s, message(u"again"_s)),
                                When);
        break;
    }
    pane.refreshHistory();
    // The message document's final paragraph break leaves an open, empty line.
    QCOMPARE(pane.document()->toPlainText(), text + u"\n"_s);
    QVERIFY(checkSpans(*pane.document(), spans));

    // The line is exactly these documents streamed in one after the other.
    CMsgRichEdit2 streamed;
    streamed.InitHistory();
    if (paneHasText)
        streamed.StreamInAtEnd(RtfFromPlainText(u"earlier"_s));
    for (const QByteArray& piece : pieces)
        streamed.StreamInAtEnd(piece);
    QCOMPARE(streamed.history().content(), h.content());
    QCOMPARE(RichTextBridge::fromDocument(*streamed.document()),
             RichTextBridge::fromDocument(*pane.document()));
}

void TestChatWindow::incrementalMatchesFullRedraw()
{
    // Lines are added to what the pane shows, and once the history is full
    // as many characters go from the pane's front as from the history's.
    CMsgRichEdit2 pane;
    pane.InitHistory();
    ChatHistory& h = pane.history();
    auto same = [&h, &pane] {
        CMsgRichEdit2 fresh;
        fresh.InitHistory();
        fresh.showHistory(h);
        return RichTextBridge::fromDocument(*pane.document()) ==
                   RichTextBridge::fromDocument(*fresh.document()) &&
               pane.textLength() == h.characterCount();
    };
    for (int i = 0; i < 260; ++i) {
        if (i % 3 == 0)
            h.AppendPeerLine(u"Bob"_s, message(u"peer \u00e9 %1"_s.arg(i), i % 2), When);
        else
            h.AppendOwnLine(u"Alice"_s, u"Bob"_s, message(u"own %1\nsecond"_s.arg(i)), When);
        pane.refreshHistory();
        if (i % 40 == 0 || i > 250)
            QVERIFY2(same(), qPrintable(u"after line %1"_s.arg(i)));
    }
    QVERIFY(h.droppedCharacters() > 0);
    QCOMPARE(pane.textLength(), ChatHistory::MaxCharacters);
}

void TestChatWindow::trimToTenThousand()
{
    CMsgRichEdit2 pane;
    pane.InitHistory();
    QString all;
    for (int i = 0; i < 300; ++i) {
        const QString line = u"line %1 "_s.arg(i, 4, 10, QLatin1Char('0')) + QString(40, u'x');
        pane.StreamInAtEnd(RtfFromPlainText(line));
        all += line + u"\n"_s;
        QVERIFY(pane.textLength() <= ChatHistory::MaxCharacters);
    }
    QCOMPARE(pane.textLength(), ChatHistory::MaxCharacters);
    // The oldest characters went, possibly in the middle of a line.
    QCOMPARE(pane.document()->toPlainText(), all.right(ChatHistory::MaxCharacters));

    pane.StreamInAtEnd(QByteArray());
    QCOMPARE(pane.textLength(), 0);
}

void TestChatWindow::scrollRule()
{
    CMsgRichEdit2 pane;
    pane.InitHistory();
    pane.resize(300, 150);
    pane.show();
    QVERIFY(QTest::qWaitForWindowExposed(&pane));
    for (int i = 0; i < 60; ++i)
        pane.StreamInAtEnd(RtfFromPlainText(u"line %1"_s.arg(i)));
    QScrollBar* bar = pane.verticalScrollBar();
    QVERIFY(bar->maximum() > 0);
    QCOMPARE(bar->value(), bar->maximum());

    // At the bottom the pane follows new lines.
    int before = bar->maximum();
    pane.StreamInAtEnd(RtfFromPlainText(u"more\nand more"_s));
    QVERIFY(bar->maximum() > before);
    QCOMPARE(bar->value(), bar->maximum());

    // Scrolled up, it stays where the reader left it, even when lines are trimmed.
    for (int up : {0, bar->maximum() / 2}) {
        bar->setValue(up);
        pane.StreamInAtEnd(RtfFromPlainText(QString(200, u'y')));
        QCOMPARE(bar->value(), up);
        QVERIFY(!pane.isScrolledToBottom());
    }
    const QString big = QString(9600, u'z');
    bar->setValue(5);
    pane.StreamInAtEnd(RtfFromPlainText(big));
    QCOMPARE(pane.textLength(), ChatHistory::MaxCharacters);
    QCOMPARE(bar->value(), 5);
}

void TestChatWindow::webAddressesBecomeLinks()
{
    CMsgRichEdit2 pane;
    pane.InitHistory();
    pane.StreamInAtEnd(
        RtfFromPlainText(u"see https://example.org/a?b=1, or www.example.com. done"_s));
    QStringList hrefs;
    for (QTextBlock b = pane.document()->begin(); b.isValid(); b = b.next()) {
        for (auto it = b.begin(); !it.atEnd(); ++it) {
            if (it.fragment().charFormat().isAnchor())
                hrefs.append(it.fragment().charFormat().anchorHref());
        }
    }
    QCOMPARE(hrefs, (QStringList{u"https://example.org/a?b=1"_s, u"www.example.com"_s}));
    QCOMPARE(pane.document()->toPlainText(),
             u"see https://example.org/a?b=1, or www.example.com. done\n"_s);

    // A left click on a link hands it to the desktop's handler for its scheme.
    UrlRecorder recorder;
    QDesktopServices::setUrlHandler(u"http"_s, &recorder, "open");
    QDesktopServices::setUrlHandler(u"https"_s, &recorder, "open");
    pane.resize(500, 200);
    pane.show();
    QVERIFY(QTest::qWaitForWindowExposed(&pane));
    for (const QString& text : {u"example.org"_s, u"www.example"_s, u"done"_s}) {
        QTextCursor at = pane.document()->find(text);
        at.setPosition(at.selectionStart() + 2);
        QTest::mouseClick(pane.viewport(), Qt::LeftButton, {}, pane.cursorRect(at).center());
    }
    QDesktopServices::unsetUrlHandler(u"http"_s);
    QDesktopServices::unsetUrlHandler(u"https"_s);
    QCOMPARE(recorder.opened, (QList<QUrl>{QUrl(u"https://example.org/a?b=1"_s),
                                           QUrl(u"http://www.example.com"_s)}));
    QVERIFY(pane.hasFocus());
}

void TestChatWindow::formattedRoundTrip_data()
{
    QTest::addColumn<QTextCharFormat>("change");

    QTextCharFormat f;
    f.setFontWeight(QFont::Bold);
    QTest::newRow("bold") << f;
    f = {};
    f.setFontItalic(true);
    QTest::newRow("italic") << f;
    f = {};
    f.setFontUnderline(true);
    QTest::newRow("underline") << f;
    f = {};
    f.setFontStrikeOut(true);
    QTest::newRow("strike-out") << f;
    f = {};
    f.setFontPointSize(21);
    QTest::newRow("size") << f;
    f = {};
    f.setForeground(QColor(0x12, 0x80, 0xEF));
    QTest::newRow("colour") << f;
    f = {};
    f.setFontFamilies(QStringList{u"Courier New"_s});
    QTest::newRow("font") << f;
    f = {};
    f.setFontFamilies(QStringList{u"Times New Roman"_s});
    f.setFontWeight(QFont::Bold);
    f.setFontItalic(true);
    f.setFontPointSize(9);
    f.setForeground(QColor(Qt::red));
    QTest::newRow("all at once") << f;
}

void TestChatWindow::formattedRoundTrip()
{
    QFETCH(QTextCharFormat, change);

    CMsgRichEdit2 input;
    input.InitInput();
    input.insertPlainText(u"quick brown \u00e9\u20ac\u4e2d fox\nsecond line"_s);
    QTextCursor word = input.document()->find(u"brown \u00e9\u20ac\u4e2d"_s);
    QVERIFY(!word.isNull());
    word.mergeCharFormat(change);

    const QByteArray rtf = input.GetRtf();
    QVERIFY(rtf.startsWith("{\\rtf1\\ansi\\ansicpg1252\\deff0\\deflang1033{\\fonttbl"));
    QVERIFY(rtf.endsWith("second line\\par\r\n}\r\n"));

    CMsgRichEdit2 back;
    back.InitInput();
    back.setRtf(rtf);
    QCOMPARE(back.document()->toPlainText(), input.document()->toPlainText());
    for (const QString& piece : {u"quick"_s, u"brown"_s, u"\u20ac"_s, u"fox"_s, u"second"_s}) {
        QCOMPARE(RichTextBridge::richFormat(formatAt(*back.document(), piece)),
                 RichTextBridge::richFormat(formatAt(*input.document(), piece)));
    }
    QCOMPARE(back.GetRtf(), rtf);
}

void TestChatWindow::inputLimit_data()
{
    QTest::addColumn<QString>("before");
    QTest::addColumn<int>("at");
    QTest::addColumn<QString>("pasted");
    QTest::addColumn<QString>("after");

    const QString a990(990, u'a');
    QTest::newRow("paste beyond the limit into an empty input")
        << QString() << 0 << QString(1500, u'b') << QString(1000, u'b');
    QTest::newRow("paste in the middle keeps what was there")
        << a990 << 5 << QString(20, u'b')
        << QString(5, u'a') + QString(10, u'b') + QString(985, u'a');
    QTest::newRow("a full input takes nothing")
        << QString(1000, u'a') << 1000 << u"b"_s << QString(1000, u'a');
    QTest::newRow("a line break counts one")
        << QString(998, u'a') << 998 << u"\nbc"_s << QString(998, u'a') + u"\nb"_s;
    QTest::newRow("CR LF and CR lines count one break each")
        << QString(996, u'a') << 996 << u"\r\nb\rcd"_s << QString(996, u'a') + u"\nb\nc"_s;
    QTest::newRow("exactly to the limit")
        << a990 << 990 << QString(10, u'c') << a990 + QString(10, u'c');
}

void TestChatWindow::inputLimit()
{
    QFETCH(QString, before);
    QFETCH(int, at);
    QFETCH(QString, pasted);
    QFETCH(QString, after);

    CMsgRichEdit2 input;
    input.InitInput();
    input.insertPlainText(before);
    QTextCursor c = input.textCursor();
    c.setPosition(at);
    input.setTextCursor(c);
    QApplication::clipboard()->setText(pasted);
    input.paste();
    QCOMPARE(input.document()->toPlainText(), after);
    QVERIFY(input.textLength() <= CMsgRichEdit2::InputLimit);

    // Typing goes in up to the limit and no further.
    const int room = CMsgRichEdit2::InputLimit - input.textLength();
    input.moveCursor(QTextCursor::End);
    QTest::keyClicks(&input, QString(room + 3, u'k'));
    QCOMPARE(input.document()->toPlainText(), after + QString(room, u'k'));
}

void TestChatWindow::typingReports()
{
    QWidget window;
    auto* input = new CMsgRichEdit2(&window);
    input->InitInput();
    auto* history = new CMsgRichEdit2(&window);
    history->InitHistory();
    auto* other = new QPushButton(&window);
    QSignalSpy inputSpy(input, &CMsgRichEdit2::typingChanged);
    QSignalSpy historySpy(history, &CMsgRichEdit2::typingChanged);
    window.show();
    QVERIFY(QTest::qWaitForWindowActive(&window));

    auto flags = [&inputSpy] {
        QList<int> out;
        for (const QList<QVariant>& args : inputSpy)
            out.append(args.at(0).toInt());
        return out;
    };
    input->setFocus();
    QTest::keyClicks(input, u"hi"_s);
    QCOMPARE(flags(), (QList<int>{1}));
    other->setFocus();
    QCOMPARE(flags(), (QList<int>{1, 0}));
    input->setFocus();
    QCOMPARE(flags(), (QList<int>{1, 0, 1}));
    input->Clear();
    QCOMPARE(flags(), (QList<int>{1, 0, 1, 0}));

    history->setFocus();
    history->StreamInAtEnd(RtfFromPlainText(u"text"_s));
    other->setFocus();
    QCOMPARE(historySpy.count(), 0);
    QVERIFY(history->suppressed());
    QVERIFY(!input->suppressed());
}

void TestChatWindow::contextMenuToggles_data()
{
    QTest::addColumn<bool>("history");
    QTest::addColumn<QString>("boldPart"); // made bold before the menu opens
    QTest::addColumn<QStringList>("entries");

    const QStringList plain{
        u"Copy"_s,     u"Paste"_s,      u"Copy All"_s,      u"Select All"_s,         u""_s,
        u"Set Bold"_s, u"Set Italic"_s, u"Set Underline"_s, u"Set Strikeout"_s,      u"Set Color"_s,
        u"Set Font"_s, u""_s,           u"Clear Screen"_s,  u"Set to Default Font"_s};
    QStringList bold = plain;
    bold[5] = u"Set UnBold"_s;
    QTest::newRow("history pane") << true << QString()
                                  << QStringList{u"Copy"_s, u"Copy All"_s, u"Clear Screen"_s};
    QTest::newRow("input, nothing bold") << false << QString() << plain;
    QTest::newRow("input, whole selection bold") << false << u"one two"_s << bold;
    QTest::newRow("input, part of the selection bold") << false << u"two"_s << plain;
}

void TestChatWindow::contextMenuToggles()
{
    QFETCH(bool, history);
    QFETCH(QString, boldPart);
    QFETCH(QStringList, entries);

    CMsgRichEdit2 edit;
    if (history) {
        edit.InitHistory();
        edit.StreamInAtEnd(RtfFromPlainText(u"one two"_s));
    } else {
        edit.InitInput();
        edit.insertPlainText(u"one two"_s);
    }
    if (!boldPart.isEmpty()) {
        QTextCursor c = edit.document()->find(boldPart);
        QTextCharFormat f;
        f.setFontWeight(QFont::Bold);
        c.mergeCharFormat(f);
    }
    edit.selectAll();
    std::unique_ptr<QMenu> menu(edit.createContextMenu());
    QStringList got;
    for (QAction* a : menu->actions())
        got.append(a->isSeparator() ? QString() : a->text());
    QCOMPARE(got, entries);

    if (history)
        return;
    // The toggle makes the whole selection bold, or none of it.
    edit.runCommand(CMsgRichEdit2::CmdBold);
    const bool wasAllBold = boldPart == u"one two"_s;
    for (const QString& word : {u"one"_s, u"two"_s})
        QCOMPARE(RichTextBridge::richFormat(formatAt(*edit.document(), word)).bold, !wasAllBold);
    edit.runCommand(CMsgRichEdit2::CmdDefaultFont);
    QCOMPARE(RichTextBridge::richFormat(formatAt(*edit.document(), u"two"_s)),
             RichFormat::chatDefault());
}

void TestChatWindow::choosersApplyToTheSelection()
{
    CMsgRichEdit2 input;
    input.InitInput();
    input.show();
    input.insertPlainText(u"one two"_s);
    input.setTextCursor(input.document()->find(u"two"_s));

    input.runCommand(CMsgRichEdit2::CmdColor);
    auto* colors = input.findChild<QColorDialog*>(u"colorChooser"_s);
    QVERIFY(colors);
    // The caret moving on does not move the choice away from the selection.
    input.moveCursor(QTextCursor::Start);
    colors->setCurrentColor(QColor(0x11, 0x22, 0x33));
    colors->accept();
    QCOMPARE(RichTextBridge::richFormat(formatAt(*input.document(), u"two"_s)).color,
             std::optional<uint32_t>(0x112233));
    QCOMPARE(RichTextBridge::richFormat(formatAt(*input.document(), u"one"_s)),
             RichFormat::chatDefault());

    input.setTextCursor(input.document()->find(u"one"_s));
    input.runCommand(CMsgRichEdit2::CmdFont);
    auto* fonts = input.findChild<FontChooser*>(u"fontChooser"_s);
    QVERIFY(fonts);
    QVERIFY(!QFontDatabase::families().isEmpty());
    QFont font(QFontDatabase::families().last(), 20);
    font.setItalic(true);
    font.setStrikeOut(true);
    fonts->setChosenFont(font);
    fonts->setColor(QColor(0xAA, 0, 0));
    fonts->accept();
    const RichFormat one = RichTextBridge::richFormat(formatAt(*input.document(), u"one"_s));
    QCOMPARE(one.face, font.family());
    QCOMPARE(one.halfPoints, 40);
    QVERIFY(one.italic && one.strikeOut && !one.bold && !one.underline);
    QCOMPARE(one.color, std::optional<uint32_t>(0xAA0000));
    QCOMPARE(RichTextBridge::richFormat(formatAt(*input.document(), u"two"_s)).color,
             std::optional<uint32_t>(0x112233));

    // Accepted as it opened, the chooser keeps the face even where this
    // system shows another one for it.
    input.setTextCursor(input.document()->find(u"two"_s));
    input.runCommand(CMsgRichEdit2::CmdFont);
    fonts = input.findChildren<FontChooser*>(u"fontChooser"_s).last();
    fonts->accept();
    QCOMPARE(RichTextBridge::richFormat(formatAt(*input.document(), u"two"_s)).face,
             RichFormat::DefaultFace);
}

void TestChatWindow::clearScreenClearsTheHistory()
{
    startCore();
    CChatDlg dlg(*m_core->c, *m_bob);
    ChatHistory& h = m_core->c->history(*m_bob);
    h.AppendPeerLine(u"Bob"_s, message(u"Hi"_s), When);
    dlg.showLine();
    QVERIFY(dlg.historyPane()->document()->toPlainText().contains(u"Hi"_s));
    dlg.historyPane()->runCommand(CMsgRichEdit2::CmdClearScreen);
    QVERIFY(h.isEmpty());
    QCOMPARE(dlg.historyPane()->textLength(), 0);
    h.AppendPeerLine(u"Bob"_s, message(u"Again"_s), When);
    dlg.showLine();
    QCOMPARE(dlg.historyPane()->document()->toPlainText(), u"Bob: "_s + Stamp + u"\nAgain\n"_s);
}

void TestChatWindow::caption_data()
{
    QTest::addColumn<QString>("alias");
    QTest::addColumn<QString>("dns");
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("away");
    QTest::addColumn<QString>("caption");

    QTest::newRow("ip when no dns") << QString() << QString() << int(StatusOnline) << QString()
                                    << u"Bob (127.0.0.1) is Online"_s;
    QTest::newRow("dns first") << QString() << u"bob.example"_s << int(StatusAway) << QString()
                               << u"Bob (bob.example) is Away"_s;
    QTest::newRow("alias and away message")
        << u"Bobby"_s << QString() << int(StatusAwayMessage) << u"at lunch"_s
        << u"Bobby (127.0.0.1) is \"at lunch\""_s;
    QTest::newRow("offline") << QString() << QString() << int(StatusOffline) << QString()
                             << u"Bob (127.0.0.1) is Offline"_s;
}

void TestChatWindow::caption()
{
    QFETCH(QString, alias);
    QFETCH(QString, dns);
    QFETCH(int, status);
    QFETCH(QString, away);
    QFETCH(QString, caption);

    startCore();
    const Contact saved = *m_bob;
    m_bob->alias = alias;
    m_bob->dns = dns;
    m_bob->status = status;
    m_bob->awayMessage = away;
    QList<int> iconsAsked;
    CChatDlg::setStatusIconProvider([&iconsAsked](int s) {
        iconsAsked.append(s);
        return QIcon();
    });
    CChatDlg dlg(*m_core->c, *m_bob);
    dlg.Refresh();
    CChatDlg::setStatusIconProvider({});
    *m_bob = saved;
    QCOMPARE(dlg.windowTitle(), caption);
    QCOMPARE(iconsAsked.last(), status);
}

void TestChatWindow::sendQueuesAndShowsTheLine()
{
    startCore();
    CChatDlg dlg(*m_core->c, *m_bob);
    dlg.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dlg));

    // Empty: nothing goes out and the status line says so.
    dlg.send();
    QCOMPARE(m_core->ui.chatStatus.value(m_bob), u" No message to send.\n"_s);

    dlg.input()->insertPlainText(u"see you"_s);
    QTextCursor c = dlg.input()->document()->find(u"you"_s);
    QTextCharFormat italic;
    italic.setFontItalic(true);
    c.mergeCharFormat(italic);
    QTest::keyClick(dlg.input(), Qt::Key_Return);
    // Bob is offline: the message waits in his queue, as the input wrote it.
    QCOMPARE(dlg.input()->textLength(), 0);
    QVERIFY(m_bob->queue.endsWith("\\fs28 see \\i you\\par\r\n}\r\n"));
    dlg.showLine();
    const QTextDocument& pane = *dlg.historyPane()->document();
    QVERIFY(pane.toPlainText().contains(u"An Offline Message was Queued\nsee you"_s));
    QVERIFY(formatAt(pane, u"you"_s).fontItalic());
    QVERIFY(!formatAt(pane, u"see"_s).fontItalic());
    m_core->c->ClearQueue(*m_bob, false);
    m_core->c->history(*m_bob).Clear();
}

void TestChatWindow::keysAndClose()
{
    startCore();
    CChatDlg dlg(*m_core->c, *m_bob);
    QSignalSpy keys(&dlg, &CChatDlg::functionKeyPressed);
    dlg.ShowAndFocus();
    QVERIFY(QTest::qWaitForWindowActive(&dlg));
    m_core->c->history(*m_bob).AppendPeerLine(u"Bob"_s, message(u"kept"_s), When);
    dlg.showLine();

    QTest::keyClick(dlg.input(), Qt::Key_Escape);
    QTest::keyClick(&dlg, Qt::Key_Escape);
    QVERIFY(dlg.isVisible());
    for (Qt::Key k : {Qt::Key_F2, Qt::Key_F3, Qt::Key_F4})
        QTest::keyClick(dlg.input(), k);
    QTest::keyClick(dlg.sendButton(), Qt::Key_F3);
    QCOMPARE(keys.count(), 4);
    QCOMPARE(keys.at(1).at(0).toInt(), int(Qt::Key_F3));

    const QRect where = dlg.geometry();
    dlg.close();
    QVERIFY(!dlg.isVisible());
    QCOMPARE(m_bob->chatWindowRect.toQRect(), where);
    QCOMPARE(m_bob->chatSplitterRect.toQRect(), dlg.barRect());
    QVERIFY(dlg.historyPane()->document()->toPlainText().contains(u"kept"_s));
    dlg.ShowAndFocus();
    QVERIFY(dlg.isVisible());
    QVERIFY(dlg.historyPane()->document()->toPlainText().contains(u"kept"_s));
    dlg.reject();
    QVERIFY(!dlg.isVisible());
    m_core->c->history(*m_bob).Clear();

    // A window shown for the first time takes the stored rectangle and bar,
    // which the profile sets after the window was made.
    CChatDlg again(*m_core->c, *m_bob);
    m_bob->chatWindowRect = StoredRect::fromQRect(QRect(40, 50, 500, 420));
    m_bob->chatSplitterRect = StoredRect{7, 210, 493, 216};
    again.show();
    QVERIFY(QTest::qWaitForWindowExposed(&again));
    QCOMPARE(again.size(), QSize(500, 420));
    QCOMPARE(again.barRect().top(), 210);
}

void TestChatWindow::splitterAndMinimumSize()
{
    startCore();
    m_bob->chatWindowRect = {};
    m_bob->chatSplitterRect = {};
    CChatDlg dlg(*m_core->c, *m_bob);
    dlg.resize(100, 100);
    QCOMPARE(dlg.size(), QSize(CChatDlg::MinWidth, CChatDlg::MinHeight));
    dlg.resize(500, 500);
    dlg.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dlg));

    dlg.moveBar(300);
    QCOMPARE(dlg.barRect().top(), 300);
    // A bar dragged up high comes back to 100 pixels below the top on the next resize.
    dlg.moveBar(20);
    QVERIFY(dlg.barRect().top() < CChatDlg::MinBarTop);
    dlg.resize(dlg.width() + 20, dlg.height());
    QTRY_COMPARE(dlg.barRect().top(), CChatDlg::MinBarTop);
    // The input keeps its height when the window grows; the history takes the rest.
    const int inputHeight = dlg.input()->height();
    dlg.resize(520, 600);
    QTRY_COMPARE(dlg.height(), 600);
    QCOMPARE(dlg.input()->height(), inputHeight);
}

void TestChatWindow::drops_data()
{
    QTest::addColumn<int>("files");
    QTest::addColumn<int>("missing");
    QTest::addColumn<int>("sent");
    QTest::addColumn<int>("noticeCode");

    QTest::newRow("101 items") << 101 << 0 << 0 << int(CChatDlg::TooManyFiles);
    QTest::newRow("100 items") << 99 << 0 << 100 << 0; // 99 files and the folder
    QTest::newRow("one not there") << 3 << 1 << 4 << int(CChatDlg::DropFailed);
}

void TestChatWindow::drops()
{
    QFETCH(int, files);
    QFETCH(int, missing);
    QFETCH(int, sent);
    QFETCH(int, noticeCode);

    startCore();
    QTemporaryDir dir;
    QStringList paths;
    for (int i = 0; i < files; ++i) {
        QFile f(dir.filePath(u"f%1.txt"_s.arg(i)));
        QVERIFY(f.open(QIODevice::WriteOnly));
        paths.append(f.fileName());
    }
    QDir(dir.path()).mkdir(u"folder"_s);
    paths.append(dir.filePath(u"folder"_s) + u"//"_s);
    for (int i = 0; i < missing; ++i)
        paths.append(dir.filePath(u"gone%1"_s.arg(i)));

    CChatDlg dlg(*m_core->c, *m_bob);
    QSignalSpy dropped(&dlg, &CChatDlg::filesDropped);
    QSignalSpy notices(&dlg, &CChatDlg::notice);
    // Dropped on the input, as a user would.
    QMimeData data;
    QList<QUrl> urls;
    for (const QString& p : paths)
        urls.append(QUrl::fromLocalFile(p));
    data.setUrls(urls);
    QDropEvent drop(QPointF(5, 5), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    dlg.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dlg));
    // The drop reaches the widget that took the drag when it entered.
    QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(dlg.input()->viewport(), &enter);
    QVERIFY(enter.isAccepted());
    QApplication::sendEvent(dlg.input()->viewport(), &drop);

    QCOMPARE(dropped.isEmpty() ? 0 : int(dropped.first().at(0).toStringList().size()), sent);
    if (sent > 0)
        QVERIFY(dropped.first().at(0).toStringList().contains(dir.filePath(u"folder"_s)));
    QCOMPARE(notices.isEmpty() ? 0 : notices.first().at(0).toInt(), noticeCode);
    if (noticeCode == CChatDlg::TooManyFiles) {
        QCOMPARE(notices.first().at(1).toString(), u"Too many files"_s);
        QCOMPARE(notices.first().at(2).toString(),
                 u"You cannot drag and drop more than 100 files at a time"_s);
    }
    if (noticeCode == CChatDlg::DropFailed)
        QCOMPARE(notices.first().at(1).toString(), u"One or More Dropped Files Failed"_s);
}

QTEST_MAIN(TestChatWindow)
#include "tst_chatwindow.moc"
