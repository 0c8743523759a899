#include "shell/anidlg.h"

#include <QGuiApplication>
#include <QKeyEvent>
#include <QPainter>
#include <QPushButton>
#include <QScreen>
#include <QTimer>

namespace {
// Dialog units to pixels with the popup's font.
QSize dialogUnits(const QFontMetrics& fm, int x, int y)
{
    const int baseX = (fm.horizontalAdvance(
                           QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz")) /
                           26 +
                       1) /
                      2;
    return QSize(x * baseX / 4, y * fm.height() / 8);
}
} // namespace

CAniDlg::CAniDlg(const QString& firstLine, const QString& secondLine, const QByteArray& uid,
                 QWidget* owner)
    : CAniDlg(firstLine, secondLine, uid, owner, Timings{})
{}

CAniDlg::CAniDlg(const QString& firstLine, const QString& secondLine, const QByteArray& uid,
                 QWidget* owner, const Timings& timings)
    : QWidget(owner, Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint |
                         Qt::WindowDoesNotAcceptFocus),
      m_firstLine(firstLine), m_secondLine(secondLine), m_uid(uid), m_timings(timings),
      m_talk(new QPushButton(QStringLiteral("&Talk"), this)),
      m_close(new QPushButton(QStringLiteral("&Close"), this)), m_fadeIn(new QTimer(this)),
      m_hold(new QTimer(this)), m_fadeOut(new QTimer(this))
{
    setAttribute(Qt::WA_DeleteOnClose);
    setAttribute(Qt::WA_ShowWithoutActivating);
    setFocusPolicy(Qt::NoFocus);
    setWindowTitle(QStringLiteral("Zephlink P2P"));
    const QFontMetrics fm(font());
    resize(dialogUnits(fm, 208, 90));
    const QSize button = dialogUnits(fm, 50, 14);
    const QSize talkAt = dialogUnits(fm, 51, 69);
    const QSize closeAt = dialogUnits(fm, 106, 69);
    m_talk->setGeometry(QRect(QPoint(talkAt.width(), talkAt.height()), button));
    m_close->setGeometry(QRect(QPoint(closeAt.width(), closeAt.height()), button));
    m_talk->setFocusPolicy(Qt::NoFocus);
    m_close->setFocusPolicy(Qt::NoFocus);

    connect(m_talk, &QPushButton::clicked, this, [this] {
        emit talk(m_uid);
        close();
    });
    connect(m_close, &QPushButton::clicked, this, &QWidget::close);

    m_fadeIn->setInterval(m_timings.fadeStepMs);
    m_fadeOut->setInterval(m_timings.fadeStepMs);
    m_hold->setSingleShot(true);
    connect(m_fadeIn, &QTimer::timeout, this, &CAniDlg::fadeInStep);
    connect(m_fadeOut, &QTimer::timeout, this, &CAniDlg::fadeOutStep);
    connect(m_hold, &QTimer::timeout, this, [this] { m_fadeOut->start(); });
}

QPoint CAniDlg::placement(const QRect& screen, const QSize& size)
{
    return QPoint(screen.right() + 1 - size.width() - 10, screen.bottom() + 1 - size.height() - 50);
}

QImage CAniDlg::renderFace(const QSize& client, const QString& firstLine, const QString& secondLine)
{
    const int w = client.width() + 2;
    const int h = client.height() + 2;
    QImage image(w, h, QImage::Format_RGB32);
    // A blend from the top left to the bottom right: every point on one
    // line from lower left to upper right (same x + y) has one colour.
    const int r1 = 4, g1 = 10, b1 = 132, r2 = 123, g2 = 248, b2 = 253;
    const int span = w + h;
    for (int y = 0; y < h; ++y) {
        auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < w; ++x) {
            const int d = x + y;
            line[x] = qRgb(r1 + (r2 - r1) * d / span, g1 + (g2 - g1) * d / span,
                           b1 + (b2 - b1) * d / span);
        }
    }
    QPainter p(&image);
    p.setPen(QColor(75, 75, 75));
    p.drawRect(QRect(2, 2, w - 5, h - 5));
    QFont f(QStringLiteral("Verdana"));
    f.setPixelSize(20);
    f.setBold(true);
    p.setFont(f);
    p.setPen(Qt::white);
    const QFontMetrics fm(f);
    const QRect area(0, 0, w, h);
    const QString second = fm.elidedText(secondLine, Qt::ElideRight, w - 16);
    const QString first = fm.elidedText(firstLine, Qt::ElideRight, w - 16);
    p.drawText(area, Qt::AlignCenter, second);
    p.drawText(area.translated(0, -(fm.height() + 5)), Qt::AlignCenter, first);
    return image;
}

bool CAniDlg::fadingAvailable()
{
    // Wayland leaves a window's opacity to its compositor.
    return !QGuiApplication::platformName().startsWith(QLatin1String("wayland"));
}

void CAniDlg::open(bool canFade)
{
    m_face = renderFace(size(), m_firstLine, m_secondLine);
    QScreen* screen = QGuiApplication::primaryScreen();
    if (screen)
        move(placement(screen->geometry(), size()));
    if (canFade) {
        m_alpha = 10;
        setWindowOpacity(m_alpha / 255.0);
        m_fadeIn->start();
        m_hold->start(m_timings.holdMs);
    } else {
        QTimer::singleShot(m_timings.opaqueCloseMs, this, [this] {
            m_hold->stop();
            close();
        });
    }
    show();
}

void CAniDlg::setAlpha(int alpha)
{
    m_alpha = alpha;
    setWindowOpacity(alpha / 255.0);
    emit alphaChanged(alpha);
}

void CAniDlg::fadeInStep()
{
    const int next = m_alpha + AlphaStep;
    if (next >= 255) {
        m_fadeIn->stop();
        setAlpha(255);
    } else {
        setAlpha(next);
    }
}

void CAniDlg::fadeOutStep()
{
    m_fadeIn->stop();
    if (m_alpha < AlphaStep + 1) {
        m_fadeOut->stop();
        setAlpha(0);
        close();
        return;
    }
    setAlpha(m_alpha - AlphaStep);
}

void CAniDlg::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    if (!m_face.isNull())
        p.drawImage(-1, -1, m_face);
}

void CAniDlg::keyPressEvent(QKeyEvent* event)
{
    // Enter and Escape do not close the popup.
    event->accept();
}
