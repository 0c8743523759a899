// zephlink-fixtures: the loopback router and update server, for trying the
// program (and its router, IP and update commands) without a real router or
// update server. Everything listens on 127.0.0.1 only.
#include "fakegateway.h"
#include "fakeupdateserver.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFile>

#include <cstdio>

namespace {
void say(const QString& line)
{
    std::fputs((line + QLatin1Char('\n')).toUtf8().constData(), stdout);
    std::fflush(stdout);
}
} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Loopback router (SSDP + UPnP SOAP) and update server for Zephlink P2P."));
    parser.addHelpOption();
    const QCommandLineOption ssdp(QStringLiteral("ssdp-port"),
                                  QStringLiteral("UDP port of the router search (default 1900)."),
                                  QStringLiteral("n"), QStringLiteral("1900"));
    const QCommandLineOption update(QStringLiteral("update-port"),
                                    QStringLiteral("Port of the update server (default 8417)."),
                                    QStringLiteral("n"), QStringLiteral("8417"));
    const QCommandLineOption version(QStringLiteral("version-offered"),
                                     QStringLiteral("The [VER] of the description file."),
                                     QStringLiteral("text"), QStringLiteral("9.9.9.9"));
    const QCommandLineOption binary(QStringLiteral("binary"),
                                    QStringLiteral("The file served as the new program."),
                                    QStringLiteral("file"));
    const QCommandLineOption ip(QStringLiteral("public-ip"),
                                QStringLiteral("The address the IP page reports."),
                                QStringLiteral("address"), QStringLiteral("203.0.113.7"));
    const QCommandLineOption post405(QStringLiteral("answer-405"),
                                     QStringLiteral("The router answers POST with 405."));
    const QCommandLineOption pieces(QStringLiteral("pieces"),
                                    QStringLiteral("The router answers in pieces of N bytes."),
                                    QStringLiteral("n"));
    parser.addOptions({ssdp, update, version, binary, ip, post405, pieces});
    parser.process(app);

    FakeGateway gateway;
    gateway.answer405ToPost = parser.isSet(post405);
    gateway.setPieceSize(parser.value(pieces).toInt());
    if (!gateway.start(quint16(parser.value(ssdp).toUInt()))) {
        say(QStringLiteral("cannot listen on the router ports"));
        return 1;
    }
    FakeUpdateServer server;
    server.version = parser.value(version).toUtf8();
    server.publicIp = parser.value(ip).toUtf8();
    if (parser.isSet(binary)) {
        QFile f(parser.value(binary));
        if (!f.open(QIODevice::ReadOnly)) {
            say(QStringLiteral("cannot read ") + parser.value(binary));
            return 1;
        }
        server.binary = f.readAll();
    }
    if (!server.start(quint16(parser.value(update).toUInt()))) {
        say(QStringLiteral("cannot listen on the update server port"));
        return 1;
    }
    say(QStringLiteral("export ZEPHLINK_SSDP_ADDRESS=127.0.0.1:%1").arg(gateway.ssdpPort()));
    say(QStringLiteral("export ZEPHLINK_UPDATE_SERVER=%1").arg(server.url().toString()));
    return app.exec();
}
