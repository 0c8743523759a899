#include "shell/updatedlg.h"

#include "shell/progressex.h"
#include "shell/tabchilddlg.h"

#include <QHBoxLayout>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

CUpdateDlg::CUpdateDlg(QWidget* parent)
    : QDialog(parent), m_logic(this, this), m_message(new QPlainTextEdit(this)),
      m_progress(new CProgressEx(this)), m_button(new QPushButton(UpdateLogic::OkCaption, this))
{
    setWindowTitle(QStringLiteral("Zephlink Update"));
    // The message area reads like a label: no frame, no cursor, the
    // window's colour, tab stops for the version lines.
    m_message->setReadOnly(true);
    m_message->setFrameShape(QFrame::NoFrame);
    m_message->setTextInteractionFlags(Qt::NoTextInteraction);
    m_message->setFocusPolicy(Qt::NoFocus);
    m_message->viewport()->setAutoFillBackground(false);
    m_message->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_message->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_message->setTabStopDistance(fontMetrics().horizontalAdvance(QLatin1Char('x')) * 8);
    m_message->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    m_progress->SetRange(0, 100);
    m_progress->setFixedHeight(fontMetrics().height() + 8);
    m_button->setDefault(true);
    connect(m_button, &QPushButton::clicked, &m_logic, &UpdateLogic::buttonPressed);

    auto* buttonRow = new QHBoxLayout;
    buttonRow->addStretch();
    buttonRow->addWidget(m_button);
    buttonRow->addStretch();
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_message, 1);
    layout->addWidget(m_progress);
    layout->addLayout(buttonRow);
    setMinimumSize(DialogUnits(this, 200, 90));
    resize(DialogUnits(this, 230, 90));
}

void CUpdateDlg::updateMessageChanged(const QString& message)
{
    QString text = message;
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    m_message->setPlainText(text);
}

void CUpdateDlg::updateButtonChanged(const QString& caption, bool enabled)
{
    m_button->setText(caption);
    m_button->setEnabled(enabled);
}

void CUpdateDlg::updateProgressChanged(int percent)
{
    m_progress->SetPos(percent);
}

void CUpdateDlg::showUpdateWindow()
{
    show();
    raise();
    activateWindow();
}

void CUpdateDlg::hideUpdateWindow()
{
    hide();
}

void CUpdateDlg::exitRequested()
{
    emit restartRequested();
}
