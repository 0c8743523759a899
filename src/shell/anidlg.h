#pragma once

#include <QByteArray>
#include <QImage>
#include <QString>
#include <QWidget>

class QPushButton;
class QTimer;

// The notification popup: the contact's name over what happened, on a
// diagonal blend, at the bottom right of the screen. It fades in, stays,
// fades out and deletes itself; it never takes the focus.
class CAniDlg : public QWidget
{
    Q_OBJECT
public:
    struct Timings
    {
        int fadeStepMs = 50;      // each step of the fades
        int holdMs = 7000;        // from opening until the fade-out starts
        int opaqueCloseMs = 8000; // closing time when the popup cannot fade
    };
    static constexpr int AlphaStep = 25;

    CAniDlg(const QString& firstLine, const QString& secondLine, const QByteArray& uid,
            QWidget* owner, const Timings& timings);
    CAniDlg(const QString& firstLine, const QString& secondLine, const QByteArray& uid,
            QWidget* owner = nullptr);

    // Renders the face, places the popup and shows it without activating it.
    // A popup that cannot fade shows opaque and closes after opaqueCloseMs.
    void open(bool canFade = fadingAvailable());
    // The window system can make windows translucent.
    static bool fadingAvailable();

    int alpha() const { return m_alpha; }
    const QImage& face() const { return m_face; }
    QPushButton* talkButton() const { return m_talk; }
    QPushButton* closeButton() const { return m_close; }
    // Top left for a popup of this size on a screen of this geometry.
    static QPoint placement(const QRect& screen, const QSize& size);
    // The face for a client area of this size (one pixel larger on every side).
    static QImage renderFace(const QSize& client, const QString& firstLine,
                             const QString& secondLine);

signals:
    void alphaChanged(int alpha);
    void talk(const QByteArray& uid);

protected:
    void paintEvent(QPaintEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    void fadeInStep();
    void fadeOutStep();
    void setAlpha(int alpha);

    QString m_firstLine;
    QString m_secondLine;
    QByteArray m_uid;
    Timings m_timings;
    int m_alpha = 255;
    QImage m_face;
    QPushButton* m_talk;
    QPushButton* m_close;
    QTimer* m_fadeIn;
    QTimer* m_hold;
    QTimer* m_fadeOut;
};
