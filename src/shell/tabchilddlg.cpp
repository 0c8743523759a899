#include "shell/tabchilddlg.h"

#include <QFontMetrics>
#include <QKeyEvent>

CTabChildDlg::CTabChildDlg(QWidget* parent) : QWidget(parent) {}

bool SwallowEnterEscape(QKeyEvent* event)
{
    switch (event->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
    case Qt::Key_Escape:
        event->accept();
        return true;
    default:
        return false;
    }
}

void CTabChildDlg::keyPressEvent(QKeyEvent* event)
{
    if (!SwallowEnterEscape(event))
        QWidget::keyPressEvent(event);
}

QSize DialogUnits(const QWidget* widget, int width, int height)
{
    const QFontMetrics fm(widget->font());
    const int average = (fm.horizontalAdvance(QStringLiteral(
                             "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz")) /
                             26 +
                         1) /
                        2;
    return QSize(width * average / 4, height * fm.height() / 8);
}
