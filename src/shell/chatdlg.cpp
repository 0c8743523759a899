#include "chatdlg.h"

#include "records/contact.h"
#include "messenger/messengercontroller.h"
#include "msgrichedit2.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QMessageBox>
#include <QMetaMethod>
#include <QMimeData>
#include <QPushButton>
#include <QSplitter>
#include <QVBoxLayout>
#include <QWindow>

namespace {

std::function<QIcon(int)>& statusIconProvider()
{
    static std::function<QIcon(int)> provider;
    return provider;
}

} // namespace

CChatDlg::CChatDlg(MessengerController& controller, Contact& contact, QWidget* parent)
    : QDialog(parent), m_controller(controller), m_contact(contact)
{
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMinMaxButtonsHint | Qt::WindowCloseButtonHint);
    setWindowTitle(QStringLiteral("Chat Dialog"));
    setMinimumSize(MinWidth, MinHeight);
    setSizeGripEnabled(true);
    setAcceptDrops(true);

    m_history = new CMsgRichEdit2(this);
    m_history->InitHistory();
    m_history->attachHistory(&controller.history(contact));
    m_history->setMinimumHeight(TopMargin);

    m_input = new CMsgRichEdit2(this);
    m_input->InitInput();

    m_send = new QPushButton(QStringLiteral("&Send"), this);
    m_send->setDefault(true);
    m_send->setAutoDefault(true);

    auto* lower = new QWidget(this);
    auto* lowerLayout = new QHBoxLayout(lower);
    lowerLayout->setContentsMargins(0, 0, 0, 0);
    lowerLayout->setSpacing(6);
    lowerLayout->addWidget(m_input, 1);
    lowerLayout->addWidget(m_send, 0, Qt::AlignTop);
    lower->setMinimumHeight(BottomMargin);

    m_splitter = new QSplitter(Qt::Vertical, this);
    m_splitter->setChildrenCollapsible(false);
    m_splitter->setHandleWidth(6);
    m_splitter->addWidget(m_history);
    m_splitter->addWidget(lower);
    m_splitter->setStretchFactor(0, 1);
    m_splitter->setStretchFactor(1, 0);
    m_splitter->setSizes({260, 70});

    m_status = new QLabel(this);
    m_status->setFrameStyle(QFrame::StyledPanel | QFrame::Sunken);
    m_status->setTextFormat(Qt::PlainText);
    m_status->setMinimumHeight(m_status->fontMetrics().height() + 6);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(7, 7, 7, 5);
    layout->setSpacing(5);
    layout->addWidget(m_splitter, 1);
    layout->addWidget(m_status);

    connect(m_send, &QPushButton::clicked, this, &CChatDlg::send);
    connect(m_input, &CMsgRichEdit2::sendRequested, this, &CChatDlg::send);
    connect(m_input, &CMsgRichEdit2::typingChanged, this,
            [this](int flag) { m_controller.ChatInputTyping(m_contact, flag); });
    for (CMsgRichEdit2* pane : {m_history, m_input}) {
        connect(pane, &CMsgRichEdit2::functionKeyPressed, this, &CChatDlg::functionKeyPressed);
        connect(pane, &CMsgRichEdit2::filesDropped, this, &CChatDlg::dropItems);
    }

    resize(480, 400);
    Refresh();
    setStatusText(controller.chatStatusText(contact));
}

void CChatDlg::setStatusIconProvider(std::function<QIcon(int status)> provider)
{
    statusIconProvider() = std::move(provider);
}

void CChatDlg::Refresh()
{
    const QString address = m_contact.dns.isEmpty() ? m_contact.ip.text() : m_contact.dns.text();
    setWindowTitle(QStringLiteral("%1 (%2) is %3")
                       .arg(DisplayName(m_contact), address, StatusText(m_contact)));
    if (statusIconProvider())
        setWindowIcon(statusIconProvider()(m_contact.status));
}

void CChatDlg::showLine()
{
    m_history->refreshHistory();
}

void CChatDlg::setStatusText(const QString& text)
{
    // The status texts keep the line breaks they were made with; the line shows one line.
    QString shown = text;
    shown.replace(QLatin1Char('\n'), QLatin1Char(' '));
    m_status->setText(shown);
    m_status->setProperty("statusText", text);
}

QString CChatDlg::statusText() const
{
    return m_status->property("statusText").toString();
}

void CChatDlg::ShowAndFocus()
{
    if (isMinimized() || isMaximized())
        showNormal();
    else
        show();
    raise();
    activateWindow();
    m_input->setFocus(Qt::OtherFocusReason);
}

void CChatDlg::showInactive()
{
    if (isVisible())
        return;
    setAttribute(Qt::WA_ShowWithoutActivating, true);
    showMinimized();
    setAttribute(Qt::WA_ShowWithoutActivating, false);
}

void CChatDlg::flash()
{
    QApplication::alert(this);
}

bool CChatDlg::isForeground() const
{
    return isVisible() && isActiveWindow();
}

QRect CChatDlg::barRect() const
{
    const QSplitterHandle* bar = m_splitter->handle(1);
    return QRect(bar->mapTo(this, QPoint(0, 0)), bar->size());
}

void CChatDlg::moveBar(int y)
{
    const QList<int> sizes = m_splitter->sizes();
    const int total = sizes.value(0) + sizes.value(1);
    const int splitterTop = m_splitter->mapTo(this, QPoint(0, 0)).y();
    const int above =
        std::clamp(y - splitterTop, TopMargin, std::max(TopMargin, total - BottomMargin));
    m_splitter->setSizes({above, total - above});
}

void CChatDlg::storeGeometry()
{
    m_contact.chatWindowRect = StoredRect::fromQRect(geometry());
    m_contact.chatSplitterRect = StoredRect::fromQRect(barRect());
}

void CChatDlg::restoreGeometry()
{
    const StoredRect& stored = m_contact.chatWindowRect;
    if (stored.isNull() || stored.right == 0)
        return;
    QRect r = stored.toQRect();
    r.setWidth(std::max(r.width(), MinWidth));
    r.setHeight(std::max(r.height(), MinHeight));
    setGeometry(r);
}

void CChatDlg::setVisible(bool visible)
{
    // The stored rectangles arrive with the profile, after the window was made.
    const bool first = visible && !m_geometryRestored;
    if (first) {
        m_geometryRestored = true;
        restoreGeometry();
    }
    QDialog::setVisible(visible);
    if (!first)
        return;
    // The bar's place is known once the layout has run for the window's size.
    if (layout())
        layout()->activate();
    if (!m_contact.chatSplitterRect.isNull())
        moveBar(m_contact.chatSplitterRect.top);
    keepBarLowEnough();
}

void CChatDlg::keepBarLowEnough()
{
    if (!isVisible() || m_splitter->count() < 2)
        return;
    if (barRect().top() < MinBarTop)
        moveBar(MinBarTop);
}

void CChatDlg::resizeEvent(QResizeEvent* event)
{
    QDialog::resizeEvent(event);
    if (layout())
        layout()->activate();
    keepBarLowEnough();
}

void CChatDlg::changeEvent(QEvent* event)
{
    if (event->type() == QEvent::WindowStateChange) {
        auto* change = static_cast<QWindowStateChangeEvent*>(event);
        // Minimising: the rectangle before it; maximising: the maximised one.
        if (isMinimized() && !(change->oldState() & Qt::WindowMinimized))
            storeGeometry();
        else if (isMaximized())
            storeGeometry();
    }
    QDialog::changeEvent(event);
}

void CChatDlg::keyPressEvent(QKeyEvent* event)
{
    switch (event->key()) {
    case Qt::Key_Escape:
        event->accept();
        return;
    case Qt::Key_F2:
    case Qt::Key_F3:
    case Qt::Key_F4:
        emit functionKeyPressed(event->key());
        event->accept();
        return;
    default:
        QDialog::keyPressEvent(event);
    }
}

void CChatDlg::reject()
{
    storeGeometry();
    hide();
}

void CChatDlg::closeEvent(QCloseEvent* event)
{
    if (isVisible())
        storeGeometry();
    hide();
    event->ignore();
}

void CChatDlg::send()
{
    if (m_controller.SendFromChatWindow(m_contact, m_input->GetRtf())) {
        m_input->Clear();
    }
    m_input->setFocus(Qt::OtherFocusReason);
}

void CChatDlg::dragEnterEvent(QDragEnterEvent* event)
{
    if (!LocalDropPaths(event->mimeData()).isEmpty())
        event->acceptProposedAction();
    else
        event->ignore();
}

void CChatDlg::dropEvent(QDropEvent* event)
{
    const QStringList paths = LocalDropPaths(event->mimeData());
    if (paths.isEmpty()) {
        event->ignore();
        return;
    }
    event->acceptProposedAction();
    dropItems(paths);
}

void CChatDlg::dropItems(const QStringList& paths)
{
    auto raise = [this](int code, const QString& caption, const QString& text) {
        if (isSignalConnected(QMetaMethod::fromSignal(&CChatDlg::notice))) {
            emit notice(code, caption, text);
            return;
        }
        auto* box = new QMessageBox(QMessageBox::Warning, caption, text, QMessageBox::Ok, this);
        box->setAttribute(Qt::WA_DeleteOnClose);
        box->open();
    };
    if (paths.size() > MaxDroppedItems) {
        raise(TooManyFiles, QStringLiteral("Too many files"),
              QStringLiteral("You cannot drag and drop more than 100 files at a time"));
        return;
    }
    QStringList accessible;
    bool failed = false;
    for (QString path : paths) {
        const QFileInfo info(path);
        if (!info.exists() || !info.isReadable()) {
            failed = true;
            continue;
        }
        // A folder goes without its trailing separators.
        while (path.size() > 1 && path.endsWith(QLatin1Char('/')))
            path.chop(1);
        accessible.append(path);
    }
    if (!accessible.isEmpty())
        emit filesDropped(accessible);
    if (failed)
        raise(DropFailed, QStringLiteral("One or More Dropped Files Failed"),
              QStringLiteral("Some files or folders you dropped are eithor not valid,\n or are in "
                             "use by another process."));
}
