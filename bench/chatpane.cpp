// A chat history pane receiving lines: the pane adds each new line to what it
// shows (and drops as much from its front once the history is full), beside
// the baseline of drawing the whole history anew for every line.

#include "messenger/rtfwriter.h"
#include "shell/msgrichedit2.h"
#include "shell/richtextbridge.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTextDocument>

#include <cstdio>

namespace {

QByteArray line(int i)
{
    return RtfFromPlainText(
        QStringLiteral("message %1 with a few words and a link https://example.org/a%1").arg(i));
}

// Milliseconds for lines appended to a pane that already holds filled lines.
double run(int filled, int lines, bool redrawEveryLine)
{
    CMsgRichEdit2 pane;
    pane.InitHistory();
    pane.resize(500, 400);
    pane.show();
    ChatHistory& h = pane.history();
    for (int i = 0; i < filled; ++i)
        h.AppendPeerLine(QStringLiteral("Bob"), line(i));
    pane.refreshHistory();
    QElapsedTimer t;
    t.start();
    for (int i = 0; i < lines; ++i) {
        h.AppendPeerLine(QStringLiteral("Bob"), line(i));
        if (redrawEveryLine)
            RichTextBridge::setDocument(*pane.document(), h.content(),
                                        RichTextBridge::Links::Detect);
        else
            pane.refreshHistory();
    }
    return double(t.nsecsElapsed()) / 1e6;
}

} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    const int lines = 100;
    std::printf("%-34s %12s %12s\n", "pane", "ms per line", "baseline");
    for (int filled : {0, 40, 400}) {
        const double incremental = run(filled, lines, false) / lines;
        const double redraw = run(filled, lines, true) / lines;
        std::printf("%-34s %12.2f %12.2f\n",
                    qPrintable(QStringLiteral("%1 lines before (%2)")
                                   .arg(filled)
                                   .arg(filled >= 400 ? QStringLiteral("full, trimmed")
                                                      : QStringLiteral("growing"))),
                    incremental, redraw);
    }
    return 0;
}
