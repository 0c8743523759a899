// The node's console text rules and its command input, without a node.

#include "node/consoletext.h"
#include "node/stdinreader.h"

#include <QSignalSpy>
#include <QTest>

#include <csignal>
#include <sys/ioctl.h>
#include <thread>
#include <unistd.h>

namespace {

QStringList strings(std::initializer_list<const char*> items)
{
    QStringList out;
    for (const char* item : items)
        out.append(QString::fromUtf8(item));
    return out;
}

} // namespace

class TestNodeConsole : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void escaping_data();
    void escaping();
    void unescapeKeepsStrayBackslashes_data();
    void unescapeKeepsStrayBackslashes();
    void words_data();
    void words();
    void lists_data();
    void lists();
    void inputLines_data();
    void inputLines();
    void overlongLineIsCut();
};

// Texts with every escaped character come out on one line and back intact.
void TestNodeConsole::escaping_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("escaped");
    QTest::newRow("plain") << QStringLiteral("hello there") << QStringLiteral("hello there");
    QTest::newRow("line breaks") << QStringLiteral("a\nb\r\nc") << QStringLiteral("a\\nb\\r\\nc");
    QTest::newRow("tab") << QStringLiteral("a\tb") << QStringLiteral("a\\tb");
    QTest::newRow("backslash before n")
        << QStringLiteral("C:\\new\\dir") << QStringLiteral("C:\\\\new\\\\dir");
    QTest::newRow("trailing backslash") << QStringLiteral("end\\") << QStringLiteral("end\\\\");
    QTest::newRow("non-Latin") << QStringLiteral("Grüße\n日本") << QStringLiteral("Grüße\\n日本");
}

void TestNodeConsole::escaping()
{
    QFETCH(QString, text);
    QFETCH(QString, escaped);
    QCOMPARE(ConsoleText::escape(text), escaped);
    QVERIFY(!ConsoleText::escape(text).contains(QLatin1Char('\n')));
    QCOMPARE(ConsoleText::unescape(escaped), text);
}

void TestNodeConsole::unescapeKeepsStrayBackslashes_data()
{
    QTest::addColumn<QString>("input");
    QTest::addColumn<QString>("text");
    QTest::newRow("unknown escape") << QStringLiteral("a\\qb") << QStringLiteral("a\\qb");
    QTest::newRow("at the end") << QStringLiteral("ab\\") << QStringLiteral("ab\\");
    QTest::newRow("double then n") << QStringLiteral("\\\\n") << QStringLiteral("\\n");
    QTest::newRow("only backslash") << QStringLiteral("\\") << QStringLiteral("\\");
}

void TestNodeConsole::unescapeKeepsStrayBackslashes()
{
    QFETCH(QString, input);
    QFETCH(QString, text);
    QCOMPARE(ConsoleText::unescape(input), text);
}

// takeWord splits off one word at a time; quotes hold spaces.
void TestNodeConsole::words_data()
{
    QTest::addColumn<QString>("line");
    QTest::addColumn<QStringList>("words"); // unquoted
    QTest::addColumn<QString>("rest");      // after the words taken
    QTest::newRow("simple") << QStringLiteral("connect Bob") << strings({"connect", "Bob"})
                            << QString();
    QTest::newRow("extra spaces") << QStringLiteral("  msg   Bob   hi  there ")
                                  << strings({"msg", "Bob"}) << QStringLiteral("hi  there");
    QTest::newRow("quoted") << QStringLiteral("msg \"Bob Smith\" hi")
                            << strings({"msg", "Bob Smith"}) << QStringLiteral("hi");
    QTest::newRow("escaped quote") << QStringLiteral("alias \"say \\\"hi\\\"\" x")
                                   << strings({"alias", "say \"hi\""}) << QStringLiteral("x");
    QTest::newRow("escaped backslash")
        << QStringLiteral("\"a\\\\\" b") << strings({"a\\"}) << QStringLiteral("b");
    QTest::newRow("empty quotes") << QStringLiteral("add h 1 \"\" KEY")
                                  << strings({"add", "h", "1", "", "KEY"}) << QString();
    QTest::newRow("unclosed quote")
        << QStringLiteral("msg \"Bob hi") << strings({"msg", "Bob hi"}) << QString();
    QTest::newRow("partly quoted")
        << QStringLiteral("x\"a b\"y z") << strings({"xa by"}) << QStringLiteral("z");
    QTest::newRow("tab separates") << QStringLiteral("a\tb") << strings({"a", "b"}) << QString();
}

void TestNodeConsole::words()
{
    QFETCH(QString, line);
    QFETCH(QStringList, words);
    QFETCH(QString, rest);
    QStringView view = line;
    for (const QString& expected : words)
        QCOMPARE(ConsoleText::unquote(ConsoleText::takeWord(view)), expected);
    QCOMPARE(view.toString(), rest);
}

// Contact lists split at commas outside quotes.
void TestNodeConsole::lists_data()
{
    QTest::addColumn<QString>("word");
    QTest::addColumn<QStringList>("items");
    QTest::newRow("one") << QStringLiteral("Bob") << strings({"Bob"});
    QTest::newRow("three") << QStringLiteral("1,Bob,abc") << strings({"1", "Bob", "abc"});
    QTest::newRow("quoted comma") << QStringLiteral("\"Carol, Jr\",Bob")
                                  << strings({"Carol, Jr", "Bob"});
    QTest::newRow("quoted space and comma")
        << QStringLiteral("Bob,\"A, B C\"") << strings({"Bob", "A, B C"});
    QTest::newRow("empty item") << QStringLiteral("Bob,") << strings({"Bob", ""});
}

void TestNodeConsole::lists()
{
    QFETCH(QString, word);
    QFETCH(QStringList, items);
    QCOMPARE(ConsoleText::splitList(word), items);
}

// Lines arrive whole, whatever pieces the pipe delivers them in.
void TestNodeConsole::inputLines_data()
{
    QTest::addColumn<QByteArrayList>("writes");
    QTest::addColumn<QStringList>("lines");
    QTest::newRow("one per write") << QByteArrayList{"a\n", "b\n"} << strings({"a", "b"});
    QTest::newRow("several in one") << QByteArrayList{"a\nb\nc\n"} << strings({"a", "b", "c"});
    QTest::newRow("split mid-line") << QByteArrayList{"con", "nect Bob\nms", "g 1 hi\n"}
                                    << strings({"connect Bob", "msg 1 hi"});
    QTest::newRow("CR LF") << QByteArrayList{"a\r\n", "b\r", "\n"} << strings({"a", "b"});
    QTest::newRow("empty lines") << QByteArrayList{"\n\nx\n"} << strings({"", "", "x"});
    QTest::newRow("last line without end") << QByteArrayList{"a\nquit"} << strings({"a", "quit"});
    QTest::newRow("UTF-8 split in a character")
        << QByteArrayList{"msg 1 Gr\xc3", "\xbc\xc3\x9f\x65\n"} << strings({"msg 1 Grüße"});
}

void TestNodeConsole::inputLines()
{
    QFETCH(QByteArrayList, writes);
    QFETCH(QStringList, lines);
    int fds[2];
    QCOMPARE(::pipe(fds), 0);
    StdinReader reader(fds[0]);
    QStringList got;
    connect(&reader, &StdinReader::lineRead, this, [&](const QString& l) { got.append(l); });
    QSignalSpy ended(&reader, &StdinReader::endOfInput);
    QVERIFY(reader.start());
    for (const QByteArray& w : writes) {
        QCOMPARE(::write(fds[1], w.constData(), size_t(w.size())), ssize_t(w.size()));
        // Each write is read on its own before the next one goes in.
        QVERIFY(QTest::qWaitFor([&] {
            int pending = -1;
            return ::ioctl(fds[0], FIONREAD, &pending) == 0 && pending == 0;
        }));
    }
    ::close(fds[1]);
    QVERIFY(ended.wait(5000));
    QCOMPARE(got, lines);
    ::close(fds[0]);
}

void TestNodeConsole::overlongLineIsCut()
{
    int fds[2];
    QCOMPARE(::pipe(fds), 0);
    StdinReader reader(fds[0]);
    QStringList got;
    connect(&reader, &StdinReader::lineRead, this, [&](const QString& l) { got.append(l); });
    QSignalSpy ended(&reader, &StdinReader::endOfInput);
    QVERIFY(reader.start());
    const QByteArray longLine = QByteArray(StdinReader::MaxLineBytes + 5000, 'x') + "\nnext\n";
    // The pipe holds less than the line: a writer fills it while the reader reads.
    std::thread writer([&] {
        for (qsizetype at = 0; at < longLine.size();) {
            const ssize_t n =
                ::write(fds[1], longLine.constData() + at, size_t(longLine.size() - at));
            if (n <= 0)
                break;
            at += n;
        }
        ::close(fds[1]);
    });
    const bool finished = ended.wait(20000);
    if (!finished)
        ::close(fds[0]); // a stuck writer gets EPIPE instead of waiting for ever
    writer.join();
    QVERIFY(finished);
    QCOMPARE(got.size(), 2);
    QCOMPARE(got[0].size(), StdinReader::MaxLineBytes);
    QCOMPARE(got[1], QStringLiteral("next"));
    ::close(fds[0]);
}

void TestNodeConsole::initTestCase()
{
    ::signal(SIGPIPE, SIG_IGN);
}

QTEST_GUILESS_MAIN(TestNodeConsole)
#include "tst_nodeconsole.moc"
