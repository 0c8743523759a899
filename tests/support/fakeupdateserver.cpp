#include "fakeupdateserver.h"

FakeUpdateServer::FakeUpdateServer(QObject* parent)
    : QObject(parent), m_http([this](const HttpAnswerer::Request& r) { return answer(r); }, this)
{}

bool FakeUpdateServer::start(quint16 port)
{
    return m_http.listen(port);
}

QUrl FakeUpdateServer::url() const
{
    return QUrl(QStringLiteral("http://127.0.0.1:%1").arg(port()));
}

HttpAnswerer::Answer FakeUpdateServer::answer(const HttpAnswerer::Request& request)
{
    HttpAnswerer::Answer a;
    a.contentType = "text/html";
    if (request.path == "/myip.php") {
        const QByteArray begin = lowerCaseMarkers ? "<!--beginip-->" : "<!--BEGINIP-->";
        const QByteArray end = lowerCaseMarkers ? "<!--endip-->" : "<!--ENDIP-->";
        a.body = "<html><body>Your address: " + begin + publicIp + end + "</body></html>\n";
    } else if (request.path == "/downloads/qensoft/zlk6.txt") {
        a.contentType = "text/plain";
        QByteArray bin = url().toString().toLatin1() + BinaryPath;
        a.body = (missingVersionTag ? QByteArray() : "[VER]" + version + "[/VER]\n") + "[DATE]" +
                 date + "[/DATE]\n[NOTE]" + note + "[/NOTE]\n[BIN]" + bin + "[/BIN]\n[SIZE]" +
                 QByteArray::number(binary.size()) + "[/SIZE]\n";
    } else if (request.path == BinaryPath) {
        a.contentType = "application/octet-stream";
        a.body = binary;
        a.contentLength = qMax<qint64>(0, binary.size() + sizeDelta);
        if (sizeDelta > 0)
            a.body += QByteArray(sizeDelta, 'x');
        a.holdAfter = holdAfter;
    } else {
        a.status = 404;
        a.reason = "Not Found";
        a.body = "<html><body>404 Not Found</body></html>\n";
    }
    return a;
}
