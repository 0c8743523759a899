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

    // A message of runs: each run's text and its effects ('b', 'i', 'u', 's',
    // 'c' for colour, '/' starts a new paragraph).
    auto message = [](const QList<std::pair<QString, QString>>& runs) {
        RichText t;
        for (const auto& [text, effects] : runs) {
            RichFormat f = RichFormat::chatDefault();
            f.halfPoints = 20;
            f.bold = effects.contains(u'b');
            f.italic = effects.contains(u'i');
            f.underline = effects.contains(u'u');
            f.strikeOut = effects.contains(u's');
            if (effects.contains(u'c'))
                f.color = 0x1F6FD0;
            if (effects.contains(u'/'))
                t.breakParagraph();
            t.appendText(text, f);
        }
        t.breakParagraph();
        return RtfWriter::write(t);
    };
    ChatHistory& h = core.c->history(b);
    const QDateTime start(QDate(2026, 12, 8), QTime(11, 58, 2));
    h.AppendPeerLine(u"Bob"_qs,
                     message({{u"Hi Alice! Did the photos from Saturday arrive?"_qs, {}}}), start);
    h.AppendOwnLine(u"Alice"_qs, u"Bob"_qs,
                    message({{u"Yes, all "_qs, {}},
                             {u"42"_qs, u"b"_qs},
                             {u" of them. The one at the lake is "_qs, {}},
                             {u"wonderful"_qs, u"ic"_qs},
                             {u"."_qs, {}}}),
                    start.addSecs(41));
    h.AppendPeerLine(u"Bob"_qs,
                     message({{u"Great \u2014 the rest is on https://example.org/album"_qs, {}},
                              {u"Sunday"_qs, u"u/"_qs},
                              {u" works for me, "_qs, {}},
                              {u"10:00"_qs, u"s"_qs},
                              {u" 11:00."_qs, {}}}),
                     start.addSecs(95));
    h.AppendQueuedOwnLine(u"Alice"_qs, u"Bob"_qs,
                          message({{u"See you there! I'll bring the map."_qs, {}}}),
                          start.addSecs(160));

    CChatDlg dlg(*core.c, b);
    dlg.Refresh();
    dlg.resize(560, 460);
    dlg.ShowAndFocus();
    dlg.showLine();
    dlg.setStatusText(u" Bob is typing a message"_qs);
    dlg.input()->insertPlainText(u"Perfect, and bring "_qs);
    dlg.input()->textCursor().insertText(u"sandwiches"_qs, [&] {
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
