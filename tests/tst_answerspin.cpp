#include "transport/answerspin.h"

#include <QElapsedTimer>
#include <QTest>

#include <sys/socket.h>
#include <unistd.h>

class TestAnswerSpin : public QObject
{
    Q_OBJECT

private slots:
    // A string of waits: 'h' the answer came while spinning, 'm' the budget
    // ran out, '-' the wait must not spin at all.
    void backsOffAfterMisses_data()
    {
        QTest::addColumn<QString>("waits");
        QTest::newRow("answers keep it spinning") << QStringLiteral("hhhh");
        QTest::newRow("a miss skips one wait") << QStringLiteral("m-h");
        QTest::newRow("misses double the pause") << QStringLiteral("m-m--m----h");
        QTest::newRow("an answer ends the pause growth") << QStringLiteral("m-m--hm-h");
    }
    void backsOffAfterMisses()
    {
        QFETCH(QString, waits);
        AnswerSpin spin;
        for (qsizetype i = 0; i < waits.size(); ++i) {
            const QChar step = waits.at(i);
            QCOMPARE(spin.shouldSpin(), step != u'-');
            if (step != u'-')
                spin.record(step == u'h');
        }
    }

    void pauseIsBounded()
    {
        AnswerSpin spin;
        int skipped = 0;
        for (int misses = 0; misses < 40; ++misses) {
            spin.record(false);
            skipped = 0;
            while (!spin.shouldSpin())
                ++skipped;
        }
        QCOMPARE(skipped, AnswerSpin::MaxPause);
    }

    // On a real socket: input already there is seen at once; none within
    // the budget ends the wait, which then pauses.
    void waitsOnSocket()
    {
        int pair[2];
        QCOMPARE(::socketpair(AF_UNIX, SOCK_STREAM, 0, pair), 0);
        AnswerSpin spin(2'000'000);
        QVERIFY(!spin.wait(pair[0])); // nothing written: the 2 ms run out
        QVERIFY(!spin.wait(pair[0])); // paused: returns without spinning
        QCOMPARE(::write(pair[1], "x", 1), ssize_t(1));
        QElapsedTimer timer;
        timer.start();
        QVERIFY(spin.wait(pair[0]));
        QVERIFY(timer.nsecsElapsed() < 1'000'000'000);
        ::close(pair[1]);
        ::close(pair[0]);
        QVERIFY(!spin.wait(-1));
    }
};

QTEST_GUILESS_MAIN(TestAnswerSpin)
#include "tst_answerspin.moc"
