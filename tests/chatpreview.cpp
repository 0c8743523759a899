// Shows a chat window with a formatted conversation and saves a picture of
// it: chatpreview <file.png>. Not a test; for looking at the window.

#include "tst_controller_support.h"

#include "messenger/chatlines.h"
#include "shell/chatdlg.h"
#include "shell/msgrichedit2.h"

#include <QApplication>
#include <QLabel>
#include <QTextCursor>
#include <QTimer>

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    if (argc < 2) {
        qWarning("usage: chatpreview <file.png>");
        return 2;
    }
    Contact bob = NewContact();
    bob.uid = QByteArray("bob-uid-0001");
    bob.name = QStringLiteral("Bob");
    bob.ip = QStringLiteral("127.0.0.1");
    bob.dns = QStringLiteral("bob-laptop.local");
    bob.status = StatusOnline;
    Core core(QStringLiteral("Alice"));
    core.prepare({bob});
    if (!core.start())
        return 1;
    Contact& b = *core.c->contactAt(0);
    b.status = StatusOnline;

    auto rtf = [](const QString& text, auto&& shape) {
        RichFormat f = RichFormat::chatDefault();
        f.halfPoints = 20;
        RichText t;
        shape(t, f, text);
        t.breakParagraph();
        return RtfWriter::write(t);
    };
    auto plain = [](RichText& t, RichFormat f, const QString& s) { t.appendText(s, f); };
    ChatHistory& h = core.c->history(b);
    const QDateTime start(QDate(2026, 12, 8), QTime(11, 58, 2));
    h.AppendPeerLine(u"Bob"_qs,
                     rtf(u"Hi Alice! Did the photos from Saturday arrive?"_qs, plain), start);
    h.AppendOwnLine(u"Alice"_qs, u"Bob"_qs,
                    rtf(QString(), [](RichText& t, RichFormat f, const QString&) {
                        t.appendText(u"Yes, all "_qs, f);
                        RichFormat b = f;
                        b.bold = true;
                        t.appendText(u"42"_qs, b);
                        t.appendText(u" of them. The one at the lake is "_qs, f);
                        RichFormat i = f;
                        i.italic = true;
                        i.color = 0x1F6FD0;
                        t.appendText(u"wonderful"_qs, i);
                        t.appendText(u"."_qs, f);
                    }),
                    start.addSecs(41));
    h.AppendPeerLine(u"Bob"_qs,
                     rtf(QString(), [](RichText& t, RichFormat f, const QString&) {
                         t.appendText(u"Great \u2014 the rest is on "_qs, f);
                         t.appendText(u"https://example.org/album"_qs, f);
                         t.breakParagraph();
                         RichFormat u = f;
                         u.underline = true;
                         t.appendText(u"Sunday"_qs, u);
                         t.appendText(u" works for me, "_qs, f);
                         RichFormat s = f;
                         s.strikeOut = true;
                         t.appendText(u"10:00"_qs, s);
                         t.appendText(u" 11:00."_qs, f);
                     }),
                     start.addSecs(95));
    h.AppendQueuedOwnLine(u"Alice"_qs, u"Bob"_qs,
                          rtf(u"See you there! I'll bring the map."_qs, plain),
                          start.addSecs(160));

    CChatDlg dlg(*core.c, b);
    dlg.Refresh();
    dlg.resize(560, 460);
    dlg.ShowAndFocus();
    dlg.showLine();
    dlg.setStatusText(u" Bob is typing a message"_qs);
    dlg.input()->insertPlainText(u"Perfect, and bring "_qs);
    dlg.input()->textCursor().insertText(u"sandwiches"_qs,
                                         [&] {
                                             QTextCharFormat f = dlg.input()->currentCharFormat();
                                             f.setFontWeight(QFont::Bold);
                                             return f;
                                         }());
    QTimer::singleShot(300, &app, [&] {
        dlg.grab().save(QString::fromLocal8Bit(argv[1]));
        app.quit();
    });
    return app.exec();
}
