#pragma once

#include <QSize>
#include <QWidget>

// One page of a tabbed dialog. Enter and Escape pressed anywhere on the
// page stop here, so typing in a page's text box never closes the dialog.
class CTabChildDlg : public QWidget
{
    Q_OBJECT
public:
    explicit CTabChildDlg(QWidget* parent = nullptr);

protected:
    void keyPressEvent(QKeyEvent* event) override;
};

// A size given in dialog units of the widget's font: a quarter of the
// average character width across, an eighth of the character height down.
QSize DialogUnits(const QWidget* widget, int width, int height);

// Enter and Escape accepted and dropped (true); any other key is left alone.
bool SwallowEnterEscape(QKeyEvent* event);
