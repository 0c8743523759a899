#include "shell/messengerdlg.h"

#include "messenger/messengercontroller.h"
#include "messenger/rtfwriter.h"
#include "profile/profilefolder.h"
#include "shell/addnewcontactdlg.h"
#include "shell/anidlg.h"
#include "shell/clientdlg.h"
#include "shell/contactlabels.h"
#include "shell/editdlg.h"
#include "shell/filedialogex.h"
#include "shell/icons.h"
#include "shell/listctrlex.h"
#include "shell/msgrichedit2.h"
#include "shell/remotedlg.h"
#include "shell/shellfiles.h"
#include "shell/splitters.h"
#include "shell/staticcolor.h"
#include "shell/trayicon.h"
#include "shell/updatedlg.h"
#include "shell/upnpdlg.h"
#include "shell/windowplace.h"
#include "transfers/acceptresume.h"
#include "transfers/transfermanager.h"

#include <QApplication>
#include <QClipboard>
#include <QCloseEvent>
#include <QDateTime>
#include <QDesktopServices>
#include <QDialog>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QMimeData>
#include <QProcess>
#include <QPushButton>
#include <QStandardPaths>
#include <QTimer>
#include <QUrl>
#include <QVBoxLayout>

namespace {

constexpr int RowContactRole = Qt::UserRole + 1;

// The time between a theme change and the header colours following it.
constexpr int ThemeSettleMs = 1000;

bool readable(const QString& path)
{
    const QFileInfo info(path);
    return info.exists() && info.isReadable();
}

} // namespace

CMessengerDlg::CMessengerDlg(MessengerController& controller, QWidget* parent)
    : QMainWindow(parent), m_controller(controller), m_client(new QWidget(this)),
      m_tray(new CTrayIcon(this))
{
    setWindowTitle(QStringLiteral("Zephlink P2P"));
    setWindowIcon(Icons::programIcon());
    setCentralWidget(m_client);
    setAcceptDrops(true);
    buildMenus();
    buildControls();
    setMinimumSize(MinWidth, MinHeight);
    m_tray->setOwner(this);
    m_tray->setMenuBar(menuBar());
    m_tray->setIncludeMainMenu(true);
    connect(m_tray, &CTrayIcon::restoreRequested, this, &CMessengerDlg::restoreFromTray);
    connect(m_tray, &CTrayIcon::exitRequested, this, &CMessengerDlg::exitRequested);
    createHelperWindows();
}

CMessengerDlg::~CMessengerDlg() = default;

QRect CMessengerDlg::dialogRect(int x, int y, int w, int h) const
{
    // A dialog unit is a quarter of the average character width across and
    // an eighth of the character height down.
    const QFontMetrics fm(font());
    const int avg = (fm.horizontalAdvance(
                         QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz")) /
                         26 +
                     1) /
                    2;
    const int height = fm.height();
    const auto hx = [&](int v) { return v * avg / 4; };
    const auto hy = [&](int v) { return v * height / 8; };
    return QRect(hx(x), hy(y), hx(w), hy(h));
}

void CMessengerDlg::buildControls()
{
    m_contactLine = new CStaticColor(m_client);
    m_pane = new CMsgRichEdit2(m_client);
    m_vbar = new CVertSplitter(m_client);
    m_myStatus = new CStaticColor(m_client);
    m_list = new CListCtrlEx(m_client);
    m_hbar = new CHorzSplitter(m_client);
    m_input = new CMsgRichEdit2(m_client);
    m_send = new QPushButton(QStringLiteral("&Send"), m_client);
    m_typingLine = new CStaticColor(m_client);

    m_pane->InitHistory();
    m_pane->attachHistory(&m_controller.mainHistory());
    m_input->InitInput();
    m_send->setDefault(true);
    m_send->setAutoDefault(true);

    QFont bold = font();
    bold.setBold(true);
    m_myStatus->setFont(bold);

    m_list->setHeaderHidden(true);
    m_list->setColumnCount(1);
    m_list->setHeaderLabels({QStringLiteral("Contacts")});
    m_list->setSelectionMode(QAbstractItemView::ExtendedSelection);
    m_list->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_list->setContextMenuPolicy(Qt::CustomContextMenu);
    m_list->setIconSize(QSize(16, 16));
    m_list->header()->setSectionResizeMode(0, QHeaderView::ResizeToContents);
    m_list->setTextElideMode(Qt::ElideRight);
    m_list->setMouseTracking(true);
    m_list->installEventFilter(this);
    m_input->installEventFilter(this);

    // The layout of the dialog resource: initial client size 320 x 190 units.
    const QRect client = dialogRect(0, 0, 320, 190);
    m_client->resize(client.size());
    m_contactLine->setGeometry(dialogRect(7, 7, 203, 10));
    m_pane->setGeometry(dialogRect(7, 18, 204, 122));
    m_vbar->setGeometry(dialogRect(212, 7, 3, 133));
    m_myStatus->setGeometry(dialogRect(216, 7, 97, 10));
    m_list->setGeometry(dialogRect(216, 18, 97, 122));
    m_hbar->setGeometry(dialogRect(7, 140, 306, 3));
    m_input->setGeometry(dialogRect(7, 144, 256, 30));
    m_send->setGeometry(dialogRect(265, 145, 48, 40));
    m_typingLine->setGeometry(dialogRect(7, 175, 255, 10));

    using A = ControlAnchors;
    m_anchors.add(m_contactLine, A::Stretch, A::Fixed, true);
    m_anchors.add(m_pane, A::Stretch, A::Stretch, false, true);
    m_anchors.add(m_vbar, A::Move, A::Stretch, true);
    m_anchors.add(m_myStatus, A::Move, A::Fixed, true);
    m_anchors.add(m_list, A::Move, A::Stretch, false, true);
    m_anchors.add(m_hbar, A::Stretch, A::Move, true);
    m_anchors.add(m_input, A::Stretch, A::Move, false, true);
    m_anchors.add(m_send, A::Move, A::Move, true);
    m_anchors.add(m_typingLine, A::Stretch, A::Move, true);

    m_vbar->setSides({m_contactLine, m_pane}, {m_list, m_myStatus});
    m_vbar->setMargins(200, 100);
    m_hbar->setSides({m_vbar, m_list, m_pane}, {m_input, m_send});
    m_hbar->setMargins(150, 25);
    connect(m_vbar, &CSplitterBar::moved, this, [this](int offset) {
        captureLayout();
        emit barMoved(offset, 1002);
    });
    connect(m_hbar, &CSplitterBar::moved, this, [this](int offset) {
        captureLayout();
        emit barMoved(offset, 1003);
    });

    resize(client.width() + 2, client.height() + menuBar()->sizeHint().height());
    captureLayout();
    m_layoutReady = true;

    updateHeaderColours();
    m_typingLine->SetText(QString());
    m_contactLine->SetText(QString());

    connect(m_send, &QPushButton::clicked, this, &CMessengerDlg::sendMessage);
    connect(m_input, &CMsgRichEdit2::sendRequested, this, &CMessengerDlg::sendMessage);
    connect(m_input, &CMsgRichEdit2::typingChanged, this,
            [this](int flag) { m_controller.MainInputTyping(flag, selectedContacts()); });
    connect(m_input, &CMsgRichEdit2::filesDropped, this, &CMessengerDlg::dropFiles);
    connect(m_input, &CMsgRichEdit2::functionKeyPressed, this, &CMessengerDlg::functionKey);
    connect(m_pane, &CMsgRichEdit2::filesDropped, this, &CMessengerDlg::dropFiles);
    connect(m_list, &CListCtrlEx::clicked, this, &CMessengerDlg::refreshContactLine);
    connect(m_list, &QTreeWidget::itemSelectionChanged, this, [this] {
        if (m_list->hasFocus())
            refreshContactLine();
    });
    connect(m_list, &QTreeWidget::itemDoubleClicked, this, [this](QTreeWidgetItem* row) {
        Contact* c = contactOf(row);
        if (!c)
            return;
        if (c->sessionThread != 0)
            runContactCommand(ShowChat, *c);
        else
            m_controller.Connect(*c);
    });
    connect(m_list, &QWidget::customContextMenuRequested, this,
            [this](const QPoint& pos) { showContextMenuAt(m_list->itemAt(pos)); });
}

QAction* CMessengerDlg::addCommand(QMenu* menu, const QString& text, int command, bool checkable)
{
    QAction* a = menu->addAction(text);
    a->setData(command);
    a->setCheckable(checkable);
    // The tab part of a menu text names the key; the window handles the keys.
    m_actions.insert(command, a);
    connect(a, &QAction::triggered, this, [this, command] { runCommand(command); });
    return a;
}

void CMessengerDlg::buildMenus()
{
    QMenuBar* bar = menuBar();
    QMenu* contacts = bar->addMenu(QStringLiteral("&Contacts"));
    addCommand(contacts, QStringLiteral("&Add New Contact"), AddContact);
    addCommand(contacts, QStringLiteral("&Delete Selected Contact"), DeleteSelected);
    addCommand(contacts, QStringLiteral("&Connect to All Contacts"), ConnectAllContacts);

    QMenu* options = bar->addMenu(QStringLiteral("&Options"));
    addCommand(options, QStringLiteral("&Program Options"), ProgramOptions);
    addCommand(options, QStringLiteral("&Set Screen Name"), SetScreenName);

    QMenu* view = bar->addMenu(QStringLiteral("&View"));
    addCommand(view, QStringLiteral("&File Transfers\tF2"), FileTransfers);
    addCommand(view, QStringLiteral("&Remote Shares\tF3"), RemoteShares);
    addCommand(view, QStringLiteral("&Browsing Contacts\tF4"), BrowsingContacts);
    view->addSeparator();
    addCommand(view, QStringLiteral("&IP/DNS"), ViewAddress, true);
    addCommand(view, QStringLiteral("&Large Icons"), ViewLargeIcons, true);
    addCommand(view, QStringLiteral("&Translucent"), ViewTranslucent, true);
    addCommand(view, QStringLiteral("&Auto Popup Chat Dialogs"), ViewAutoPopup, true);

    QMenu* status = bar->addMenu(QStringLiteral("&My Status"));
    addCommand(status, QStringLiteral("&Online"), MyStatusOnline);
    addCommand(status, QStringLiteral("&Away (No Message)"), MyStatusAway);
    addCommand(status, QStringLiteral("A&way (Set Message)"), MyStatusAwayMessage);
    addCommand(status, QStringLiteral("O&ffline"), MyStatusOffline);

    QMenu* help = bar->addMenu(QStringLiteral("&Help"));
    addCommand(help, QStringLiteral("&Help Topics"), HelpTopics);
    help->addSeparator();
    addCommand(help, QStringLiteral("&Check for Updates"), CheckUpdates);
    addCommand(help, QStringLiteral("&What is my IP?"), WhatIsMyIp);
    addCommand(help, QStringLiteral("&Router Configure"), RouterConfigure);
    help->addSeparator();
    addCommand(help, QStringLiteral("&About..."), About);
}

void CMessengerDlg::captureLayout()
{
    m_anchors.capture(m_client->size());
}

void CMessengerDlg::resizeEvent(QResizeEvent* event)
{
    QMainWindow::resizeEvent(event);
    if (!m_layoutReady)
        return;
    m_anchors.apply(m_client->size());
    if (isVisible() && !size().isEmpty())
        applyBarRule();
}

void CMessengerDlg::applyBarRule()
{
    bool moved = false;
    if (m_vbar->x() < BarRule) {
        m_vbar->moveTo(BarRule);
        moved = true;
    }
    if (m_hbar->y() < BarRule) {
        m_hbar->moveTo(BarRule);
        moved = true;
    }
    if (moved)
        captureLayout();
}

QColor CMessengerDlg::headerColour() const
{
    return CStaticColor::lighten(palette().color(QPalette::Active, QPalette::Highlight));
}

void CMessengerDlg::updateHeaderColours()
{
    const QColor middle = headerColour();
    m_contactLine->SetGradient(Qt::black, Qt::white, middle, CStaticColor::LeftToRight, true);
    m_typingLine->SetGradient(Qt::black, Qt::white, middle, CStaticColor::LeftToRight, true);
}

void CMessengerDlg::changeEvent(QEvent* event)
{
    // The geometry is remembered as the window minimises or maximises.
    if (event->type() == QEvent::WindowStateChange && (isMinimized() || isMaximized()))
        storePositions(m_controller.windowPositions());
    if (event->type() == QEvent::PaletteChange || event->type() == QEvent::StyleChange ||
        event->type() == QEvent::ThemeChange)
        QTimer::singleShot(ThemeSettleMs, this, &CMessengerDlg::updateHeaderColours);
    QMainWindow::changeEvent(event);
}

// --- contact rows ---

Contact* CMessengerDlg::contactOf(const QTreeWidgetItem* row) const
{
    if (!row)
        return nullptr;
    return reinterpret_cast<Contact*>(row->data(0, RowContactRole).value<quintptr>());
}

QTreeWidgetItem* CMessengerDlg::rowOf(const Contact& contact) const
{
    for (int i = 0; i < m_list->topLevelItemCount(); ++i) {
        QTreeWidgetItem* row = m_list->topLevelItem(i);
        if (contactOf(row) == &contact)
            return row;
    }
    return nullptr;
}

void CMessengerDlg::addContactRow(const Contact& contact)
{
    auto* row = new QTreeWidgetItem;
    row->setData(0, RowContactRole, QVariant::fromValue(quintptr(&contact)));
    row->setText(0, contact.name.text());
    m_list->addTopLevelItem(row);
    relabel();
}

void CMessengerDlg::removeContactRow(const Contact& contact)
{
    delete rowOf(contact);
    refreshContactLine();
}

void CMessengerDlg::relabel()
{
    const Settings& s = m_controller.settings();
    const bool large = Settings::on(s.largeIcons);
    const int size = large ? 32 : 16;
    m_list->setIconSize(QSize(size, size));
    m_list->setUpdatesEnabled(false);
    for (int i = 0; i < m_list->topLevelItemCount(); ++i) {
        QTreeWidgetItem* row = m_list->topLevelItem(i);
        const Contact* c = contactOf(row);
        if (!c)
            continue;
        row->setText(0, ContactText::label(*c, Settings::on(s.showAddress)));
        row->setIcon(0, QIcon(Icons::statusPixmap(c->status, size)));
        row->setToolTip(0, ContactText::line(*c));
    }
    // Label order first, then the stable status sort groups them.
    m_list->Sort(0, true, CListCtrlEx::Text);
    m_list->Sort(0, true, CListCtrlEx::Custom,
                 [this](const QTreeWidgetItem* a, const QTreeWidgetItem* b) {
                     const Contact* ca = contactOf(a);
                     const Contact* cb = contactOf(b);
                     return (ca ? ca->status : 0) - (cb ? cb->status : 0);
                 });
    m_list->setUpdatesEnabled(true);
    m_list->resizeColumnToContents(0);
}

QList<Contact*> CMessengerDlg::selectedContacts() const
{
    QList<Contact*> out;
    for (int i = 0; i < m_list->topLevelItemCount(); ++i) {
        QTreeWidgetItem* row = m_list->topLevelItem(i);
        if (row->isSelected()) {
            if (Contact* c = contactOf(row))
                out.append(c);
        }
    }
    return out;
}

Contact* CMessengerDlg::selectedContact() const
{
    // The row at the selection mark when it is selected, else the first.
    if (QTreeWidgetItem* current = m_list->currentItem()) {
        if (current->isSelected())
            return contactOf(current);
    }
    const QList<Contact*> all = selectedContacts();
    return all.isEmpty() ? nullptr : all.first();
}

void CMessengerDlg::selectOnly(const Contact& contact)
{
    QTreeWidgetItem* row = rowOf(contact);
    if (!row)
        return;
    m_list->DeselectAll();
    m_list->setCurrentItem(row);
    row->setSelected(true);
    m_list->scrollToItem(row);
    refreshContactLine();
}

void CMessengerDlg::refreshContactLine()
{
    Contact* c = selectedContact();
    if (!c)
        return;
    m_contactLine->SetText(ContactText::line(*c));
    // The typing notice follows the selection.
    if (!m_input->toPlainText().isEmpty())
        m_controller.MainInputTyping(1, selectedContacts());
}

bool CMessengerDlg::searchKey(QChar key)
{
    QStringList names;
    for (int i = 0; i < m_list->topLevelItemCount(); ++i) {
        const Contact* c = contactOf(m_list->topLevelItem(i));
        names.append(c ? c->name.text() : QString());
    }
    QTreeWidgetItem* mark = m_list->currentItem();
    const int start = mark ? m_list->indexOfTopLevelItem(mark) : -1;
    m_list->clearSelection();
    const int hit = ContactText::searchRow(names, start, key);
    if (hit < 0) {
        m_list->setCurrentItem(nullptr, 0, QItemSelectionModel::NoUpdate);
        return false;
    }
    QTreeWidgetItem* row = m_list->topLevelItem(hit);
    m_list->setCurrentItem(row, 0, QItemSelectionModel::ClearAndSelect);
    m_list->scrollToItem(row);
    refreshContactLine();
    return true;
}

bool CMessengerDlg::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == m_list && event->type() == QEvent::KeyPress) {
        auto* key = static_cast<QKeyEvent*>(event);
        const int k = key->key();
        const int count = m_list->topLevelItemCount();
        const int mark =
            m_list->currentItem() ? m_list->indexOfTopLevelItem(m_list->currentItem()) : -1;
        if ((k == Qt::Key_Up || k == Qt::Key_Down) && key->modifiers() == Qt::NoModifier) {
            if (count == 0)
                return true;
            const int next =
                k == Qt::Key_Up ? std::max(0, mark - 1) : std::min(count - 1, mark + 1);
            m_list->setCurrentItem(m_list->topLevelItem(next), 0,
                                   QItemSelectionModel::ClearAndSelect);
            refreshContactLine();
            return true;
        }
        if (k == Qt::Key_Delete) {
            m_controller.Delete(selectedContact());
            return true;
        }
        const QString text = key->text();
        if (text.size() == 1 && text.at(0).isLetterOrNumber() && text.at(0).unicode() < 128 &&
            !(key->modifiers() & (Qt::ControlModifier | Qt::AltModifier))) {
            searchKey(text.at(0));
            return true; // the list's own type-ahead search stays out
        }
    }
    if (watched == m_input && event->type() == QEvent::FocusIn) {
        const QList<Contact*> selected = selectedContacts();
        if (selected.size() >= 2) {
            QStringList names;
            for (const Contact* c : selected)
                names.append(DisplayName(*c));
            m_contactLine->SetText(names.join(QLatin1Char(',')));
        } else if (selected.size() == 1) {
            m_contactLine->SetText(ContactText::line(*selected.first()));
        }
    }
    return QMainWindow::eventFilter(watched, event);
}

void CMessengerDlg::functionKey(int key)
{
    switch (key) {
    case Qt::Key_F1:
        openHelp();
        break;
    case Qt::Key_F2:
        runCommand(FileTransfers);
        break;
    case Qt::Key_F3:
        QTimer::singleShot(0, this, [this] { runCommand(RemoteShares); });
        break;
    case Qt::Key_F4:
        runCommand(BrowsingContacts);
        break;
    default:
        break;
    }
}

void CMessengerDlg::keyPressEvent(QKeyEvent* event)
{
    switch (event->key()) {
    case Qt::Key_Escape:
        event->accept(); // never closes the window
        return;
    case Qt::Key_F1:
    case Qt::Key_F2:
    case Qt::Key_F3:
    case Qt::Key_F4:
        functionKey(event->key());
        return;
    default:
        QMainWindow::keyPressEvent(event);
    }
}

// --- what the controller shows ---

void CMessengerDlg::showMyStatus(int status, const QString& label,
                                 const QList<StatusLabelColor>& colors)
{
    m_ownStatus = status;
    const auto colour = [&](int i) {
        const StatusLabelColor c = colors.value(i);
        return QColor(c.red, c.green, c.blue);
    };
    m_myStatus->SetGradient(colour(0), colour(1), colour(2), CStaticColor::LeftToRight, true);
    m_myStatus->SetText(label);
    m_tray->SetIcon(Icons::ownStatusIcon(status));
    setWindowIcon(Icons::ownStatusIcon(status));
}

void CMessengerDlg::showTypingLine(const QString& text)
{
    m_typingLine->SetText(text);
}

void CMessengerDlg::showEventLine(const QString& text)
{
    RichFormat format = RichFormat::chatDefault();
    format.halfPoints = 18;
    format.color = 0x505050;
    format.italic = true;
    m_controller.mainHistory().StreamInAtEnd(RtfFromPlainText(text, format));
    showMainHistory();
}

void CMessengerDlg::showMainHistory()
{
    m_pane->refreshHistory();
}

void CMessengerDlg::applySettings()
{
    const Settings& s = m_controller.settings();
    m_actions.value(ViewAddress)->setChecked(Settings::on(s.showAddress));
    m_actions.value(ViewLargeIcons)->setChecked(Settings::on(s.largeIcons));
    m_actions.value(ViewTranslucent)->setChecked(Settings::on(s.translucent));
    m_actions.value(ViewAutoPopup)->setChecked(Settings::on(s.autoPopupChat));
    setTranslucency(Settings::on(s.translucent), s.translucency);
    relabel();
}

void CMessengerDlg::setTranslucency(bool on, int value)
{
    if (!CAniDlg::fadingAvailable())
        return;
    setWindowOpacity(on ? std::clamp(value, 0, 255) / 255.0 : 1.0);
}

void CMessengerDlg::viewToggle(int32_t Settings::*word, int command)
{
    const int32_t value = Settings::on(m_controller.settings().*word) ? 0 : 1;
    m_controller.SetViewOption(word, value);
    m_actions.value(command)->setChecked(value != 0);
}

// --- commands ---

std::optional<QString> CMessengerDlg::prompt(const QString& caption, const QString& text,
                                             const QString& value)
{
    return CEditDlg::ask(this, caption, text, value);
}

std::optional<QString> CMessengerDlg::promptFor(Contact& c, const QString& caption,
                                                const QString& text, const QString& value)
{
    const bool listed = m_controller.rowOf(&c) >= 0;
    auto entry = prompt(caption, text, value);
    // The contact may have left the list while the prompt was open.
    if (listed && m_controller.rowOf(&c) < 0)
        return std::nullopt;
    return entry;
}

void CMessengerDlg::runCommand(int command)
{
    switch (command) {
    case AddContact: {
        CAddNewContactDlg dlg(this);
        if (dlg.exec() == QDialog::Accepted) {
            const Contact& c = dlg.contact();
            m_controller.AddContact(c.ip.text(), c.port, c.password.text().toUtf8(),
                                    c.key.text().toUtf8());
        }
        break;
    }
    case DeleteSelected:
        m_controller.Delete(selectedContact());
        break;
    case ConnectAllContacts:
        m_controller.ConnectAll();
        break;
    case SetScreenName: {
        const auto name =
            prompt(QStringLiteral("Set Screen Name"),
                   QStringLiteral("Select a screen name,\nfor contacts to identify you."),
                   m_controller.myIdentity().name.text());
        if (name && !name->isEmpty())
            m_controller.SetScreenName(*name);
        break;
    }
    case ViewAddress:
        viewToggle(&Settings::showAddress, command);
        relabel();
        break;
    case ViewLargeIcons:
        viewToggle(&Settings::largeIcons, command);
        relabel();
        break;
    case ViewTranslucent:
        viewToggle(&Settings::translucent, command);
        setTranslucency(Settings::on(m_controller.settings().translucent),
                        m_controller.settings().translucency);
        break;
    case ViewAutoPopup:
        viewToggle(&Settings::autoPopupChat, command);
        break;
    case MyStatusOnline:
        m_controller.SetMyStatus(0);
        break;
    case MyStatusAway:
        m_controller.SetMyStatus(1);
        break;
    case MyStatusAwayMessage:
        m_controller.PromptAwayMessage();
        break;
    case MyStatusOffline:
        m_controller.SetMyStatus(3);
        break;
    case HelpTopics:
        openHelp();
        break;
    case About:
        showAbout();
        break;
    case Restore:
        restoreFromTray();
        break;
    case ExitProgram:
        emit exitRequested();
        break;
    case ProgramOptions:
        openOptions();
        break;
    case FileTransfers:
        if (m_transfers)
            m_transfers->ShowTransfers();
        break;
    case RemoteShares:
        CRemoteDlg::open(m_controller, this);
        break;
    case BrowsingContacts:
        m_clientDlg->showAndRaise();
        break;
    case CheckUpdates:
        m_updateDlg->CheckForUpdates(1);
        break;
    case WhatIsMyIp:
        openIpHelper();
        break;
    case RouterConfigure:
        m_routerDlg->showAndRaise();
        break;
    default:
        break;
    }
}

QMenu* CMessengerDlg::contextMenu(Contact& contact)
{
    auto* menu = new QMenu(this);
    const auto add = [&](QMenu* m, const QString& text, int command) {
        QAction* a = m->addAction(text);
        a->setData(command);
        Contact* c = &contact;
        connect(a, &QAction::triggered, this, [this, command, c] {
            // The contact may have gone while the menu was open.
            if (m_controller.rowOf(c) >= 0)
                runContactCommand(command, *c);
        });
        return a;
    };
    const bool connected = contact.sessionThread != 0;
    add(menu,
        connected && contact.status != StatusOffline ? QStringLiteral("Send File or Folder")
                                                     : QStringLiteral("Queue File or Folder"),
        SendFile);
    if (connected)
        add(menu, QStringLiteral("Disconnect"), Disconnect);
    else
        add(menu, QStringLiteral("Connect"), Connect);
    if (contact.status == StatusBlocked || contact.blocked != 0)
        add(menu, QStringLiteral("UnBlock"), UnBlock);
    else
        add(menu, QStringLiteral("Block"), Block);
    add(menu, QStringLiteral("Delete"), Delete);
    add(menu, QStringLiteral("Show Chat Dialog"), ShowChat);
    add(menu, QStringLiteral("Clear Messages"), ClearMessages);
    menu->addSeparator();

    QMenu* advanced = menu->addMenu(QStringLiteral("Advanced"));
    const bool hasDns = !contact.dns.text().isEmpty();
    add(advanced, QStringLiteral("Ping IP"), PingIp);
    if (hasDns)
        add(advanced, QStringLiteral("Ping DNS"), PingDns);
    add(advanced, QStringLiteral("Copy IP"), CopyIp);
    if (hasDns)
        add(advanced, QStringLiteral("Copy DNS"), CopyDns);
    add(advanced, QStringLiteral("Edit IP"), EditIp);
    add(advanced, QStringLiteral("Edit Port"), EditPort);
    add(advanced, QStringLiteral("Edit Encryption Key"), EditKey);
    add(advanced, QStringLiteral("Edit Alias Name"), EditAlias);
    add(advanced, QStringLiteral("Edit AutoSave Path"), EditAutosavePath);
    if (!contact.queue.isEmpty()) {
        add(advanced, QStringLiteral("View Queued Messages"), ViewQueue);
        add(advanced, QStringLiteral("Clear Queued Messages"), ClearQueue);
    }

    if (contact.peerShares != 0)
        add(menu, QStringLiteral("View Remote Folders"), ViewRemoteFolders);
    add(menu, QStringLiteral("Edit Shared Folders"), EditSharedFolders);
    if (!Settings::on(m_controller.settings().autoAcceptAll)) {
        QAction* a = add(menu, QStringLiteral("Autosave Files && Folders"), AutosaveToggle);
        a->setCheckable(true);
        a->setChecked(contact.autosave != 0);
    }
    add(menu, QStringLiteral("Open Download Folder"), OpenDownloadFolder);
    add(menu, QStringLiteral("Connect to All Contacts"), ConnectAll);
    add(menu, QStringLiteral("Properties"), Properties);
    return menu;
}

void CMessengerDlg::showContextMenuAt(QTreeWidgetItem* row)
{
    Contact* c = contactOf(row);
    if (!c)
        return;
    if (!row->isSelected() || m_list->currentItem() != row)
        m_list->setCurrentItem(row, 0, QItemSelectionModel::ClearAndSelect);
    refreshContactLine();
    const QRect r = m_list->visualItemRect(row);
    const QPoint at = m_list->viewport()->mapToGlobal(
        QPoint(r.left() + m_list->iconSize().width() + 4, r.bottom()));
    QMenu* menu = contextMenu(*c);
    menu->setAttribute(Qt::WA_DeleteOnClose);
    menu->popup(at);
}

void CMessengerDlg::runContactCommand(int command, Contact& c)
{
    switch (command) {
    case SendFile:
        sendFileTo(c);
        break;
    case Connect:
        m_controller.Connect(c);
        break;
    case EditSharedFolders:
        editSharedFolders(c);
        break;
    case ViewRemoteFolders:
        // Only a contact with a chat session is asked; otherwise nothing.
        if (c.sessionThread != 0)
            m_controller.ViewRemoteShares(c.uid.bytes());
        break;
    case Disconnect:
        m_controller.Disconnect(c);
        break;
    case Block:
        m_controller.Block(c);
        break;
    case UnBlock:
        m_controller.Unblock(c);
        break;
    case Delete:
        m_controller.Delete(&c);
        break;
    case ShowChat:
        emit chatWindowRequested(c);
        break;
    case ClearMessages:
        m_controller.history(c).Clear();
        emit historyCleared(c);
        break;
    case AutosaveToggle:
        c.autosave = c.autosave != 0 ? 0 : 1;
        break;
    case OpenDownloadFolder:
        openDownloadFolder(c);
        break;
    case ConnectAll:
        m_controller.ConnectAll();
        break;
    case Properties:
        showProperties(c);
        break;
    case PingIp:
    case PingDns: {
        const QString host = command == PingIp ? c.ip.text() : c.dns.text();
        if (!host.isEmpty())
            QProcess::startDetached(QStringLiteral("x-terminal-emulator"),
                                    {QStringLiteral("-e"), QStringLiteral("ping"), host});
        break;
    }
    case CopyIp:
    case CopyDns: {
        const QString text = command == CopyIp ? c.ip.text() : c.dns.text();
        if (!text.isEmpty())
            QApplication::clipboard()->setText(text);
        break;
    }
    case EditIp: {
        const auto v = promptFor(c, QStringLiteral("Edit IP"),
                                 QStringLiteral("Enter a new IP address or DNS\nfor this contact. "
                                                "(DNS will resolve)"),
                                 c.ip.text());
        if (v && !v->isEmpty()) {
            c.ip.setText(*v);
            m_controller.ContactEdited(c);
            relabel();
            refreshContactLine();
        }
        break;
    }
    case EditPort: {
        const auto v = promptFor(c, QStringLiteral("Edit Port"),
                                 QStringLiteral("Enter the new Port,\nvalid range is 1-65535"),
                                 QString::number(c.port));
        if (!v)
            break;
        if (const auto port = ContactText::portEntry(*v)) {
            c.port = *port;
            m_controller.ContactEdited(c);
        } else {
            ShowMessageBox(this, QMessageBox::Warning, QStringLiteral("Invalid Port Value"),
                           QStringLiteral("Port entered is not valid."));
        }
        break;
    }
    case EditKey: {
        const auto v = promptFor(c, QStringLiteral("Edit Encryption Key"),
                                 QStringLiteral("Enter the new encryption key\nfor connecting to "
                                                "this contact."),
                                 c.key.text());
        if (!v)
            break;
        if (ContactText::keyEntryValid(*v)) {
            c.key.setText(*v);
            m_controller.ContactEdited(c);
        } else {
            ShowMessageBox(this, QMessageBox::Warning, QStringLiteral("Encryption Key Invalid"),
                           QStringLiteral("Encryption key must be at least 9 characters long."));
        }
        break;
    }
    case EditAlias: {
        const auto v = promptFor(c, QStringLiteral("Edit Alias Name"),
                                 QStringLiteral("Select an alias screen name\nfor identifying this "
                                                "contact."),
                                 c.alias.text());
        if (v) {
            m_controller.SetAlias(c, *v);
            relabel();
            refreshContactLine();
        }
        break;
    }
    case EditAutosavePath:
        editAutosavePath(c);
        break;
    case ViewQueue:
        m_controller.ShowQueue(c);
        break;
    case ClearQueue:
        m_controller.ClearQueue(c);
        break;
    default:
        break;
    }
}

void CMessengerDlg::editAutosavePath(Contact& c)
{
    const auto v = promptFor(c, QStringLiteral("Edit AutoSave Path"),
                             QStringLiteral("Enter a custom AutoSave directory\nfor this contact."),
                             c.autosavePath.text());
    if (!v)
        return;
    const QString entry = v->isEmpty() ? QString::fromLatin1(DefaultAutosavePath) : v->left(259);
    const Settings& s = m_controller.settings();
    const QString folder = ExpandAutosaveTemplate(entry, s.autosaveDirText(), DisplayName(c),
                                                  Settings::on(s.autosaveSubfolders));
    if (!folder.isEmpty() && CreateFolderPath(folder)) {
        c.autosavePath.setText(entry);
        m_controller.ContactEdited(c);
    } else {
        ShowMessageBox(this, QMessageBox::Warning, QStringLiteral("Invalid Path"),
                       QStringLiteral("The autosave path you entered could not be created.\nMake "
                                      "sure path is of valid syntax, location, and length."));
    }
}

void CMessengerDlg::openDownloadFolder(Contact& c)
{
    const Settings& s = m_controller.settings();
    const QString folder =
        ExpandAutosaveTemplate(c.autosavePath.text(), s.autosaveDirText(), DisplayName(c),
                               Settings::on(s.autosaveSubfolders));
    if (folder.isEmpty() || !QFileInfo(folder).isDir()) {
        ShowMessageBox(this, QMessageBox::Warning, QStringLiteral("Folder not found"),
                       QStringLiteral("No download folder found, folders are created\nonly when "
                                      "a contact receives a transfer."));
        return;
    }
    QDesktopServices::openUrl(QUrl::fromLocalFile(folder));
}

void CMessengerDlg::showProperties(Contact& c)
{
    auto* box = new QDialog(this);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setWindowTitle(QStringLiteral("Properties"));
    auto* text = new QLabel(box);
    text->setTextFormat(Qt::PlainText);
    text->setTextInteractionFlags(Qt::TextSelectableByMouse);
    // The properties text aligns its values with tab stops.
    const QString props = ContactText::properties(c, quint32(QDateTime::currentSecsSinceEpoch()));
    QStringList rows;
    for (const QString& line : props.split(QLatin1Char('\n'))) {
        const int tab = line.indexOf(QLatin1Char('\t'));
        rows.append(
            QStringLiteral("<tr><td><b>%1</b></td><td>%2</td></tr>")
                .arg(line.left(tab).toHtmlEscaped(), line.mid(tab).trimmed().toHtmlEscaped()));
    }
    text->setTextFormat(Qt::RichText);
    text->setText(QStringLiteral("<table cellspacing=4>%1</table>").arg(rows.join(QString())));
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok, box);
    connect(buttons, &QDialogButtonBox::accepted, box, &QDialog::accept);
    auto* layout = new QVBoxLayout(box);
    layout->addWidget(text);
    layout->addWidget(buttons);
    box->show();
}

void CMessengerDlg::showAbout()
{
    QDialog dlg(this);
    dlg.setWindowTitle(QStringLiteral("About..."));
    auto* icon = new QLabel(&dlg);
    icon->setPixmap(Icons::programIcon().pixmap(64, 64));
    icon->setAlignment(Qt::AlignTop);
    auto* text = new QLabel(&dlg);
    text->setText(QStringLiteral("Zephlink P2P\nVersion: %1\nRelease Date: %2\nP2P Messenger and "
                                 "File Transfer Program\n\nMade by the Zephlink P2P developers.\n"
                                 "Free to use, copy and share; it comes without any warranty.\n"
                                 "https://zephlink.example.org")
                      .arg(QStringLiteral(ZEPHLINK_VERSION), QStringLiteral(__DATE__)));
    text->setTextInteractionFlags(Qt::TextSelectableByMouse);
    auto* buttons = new QDialogButtonBox(&dlg);
    buttons->addButton(QStringLiteral("&OK"), QDialogButtonBox::AcceptRole);
    connect(buttons, &QDialogButtonBox::accepted, &dlg, &QDialog::accept);
    auto* top = new QHBoxLayout;
    top->addWidget(icon);
    top->addSpacing(12);
    top->addWidget(text);
    auto* layout = new QVBoxLayout(&dlg);
    layout->addLayout(top);
    layout->addWidget(buttons);
    dlg.exec();
}

void CMessengerDlg::openHelp()
{
    const QString help = ShippedFile(QStringLiteral("help.htm"));
    if (!help.isEmpty())
        QDesktopServices::openUrl(QUrl::fromLocalFile(help));
}

// --- sending ---

void CMessengerDlg::sendMessage()
{
    const QList<Contact*> selected = selectedContacts();
    const MessengerController::SendResult result =
        m_controller.SendFromMain(selected, m_input->GetRtf());
    if (result.clearInput) {
        m_input->Clear();
        m_input->setFocus();
    }
}

bool CMessengerDlg::queueSend(Contact& contact, const QString& path)
{
    if (!m_transfers)
        return false;
    QString p = path;
    while (p.size() > 1 && p.endsWith(QLatin1Char('/')))
        p.chop(1);
    m_transfers->QueueSend(contact, p);
    return true;
}

void CMessengerDlg::sendFileTo(Contact& contact)
{
    const bool listed = m_controller.rowOf(&contact) >= 0;
    CFileDialogEx dlg(this, QStringLiteral("Select a File or Folder to Send"));
    if (dlg.Run() != CFileDialogEx::Chosen || (listed && m_controller.rowOf(&contact) < 0))
        return;
    const QString path = dlg.SelectedPath();
    if (path.isEmpty() || !readable(path)) {
        ShowMessageBox(this, QMessageBox::Warning, QStringLiteral("Selection Failed"),
                       QStringLiteral("The file or folder you selected is eithor not valid,\n or "
                                      "is in use by another process."));
        return;
    }
    queueSend(contact, path);
}

void CMessengerDlg::dropFiles(const QStringList& paths)
{
    const QList<Contact*> selected = selectedContacts();
    if (selected.isEmpty()) {
        ShowMessageBox(this, QMessageBox::Warning, QStringLiteral("No Contact Selected"),
                       QStringLiteral("No contact seleccted to send files to"));
        return;
    }
    if (paths.size() > MaxDropItems) {
        ShowMessageBox(this, QMessageBox::Warning, QStringLiteral("Too many files"),
                       QStringLiteral("You cannot drag and drop more than 100 files at a time"));
        return;
    }
    bool failed = false;
    for (const QString& path : paths) {
        if (path.size() > 259 || !readable(path)) {
            failed = true;
            continue;
        }
        for (Contact* c : selected)
            queueSend(*c, path);
    }
    if (failed)
        ShowMessageBox(this, QMessageBox::Warning,
                       QStringLiteral("One or More Dropped Files Failed"),
                       QStringLiteral("Some files or folders you dropped are eithor not valid,\n "
                                      "or are in use by another process."));
}

void CMessengerDlg::sendPaths(Contact& contact, const QStringList& paths)
{
    for (const QString& path : paths)
        queueSend(contact, path);
}

void CMessengerDlg::dragEnterEvent(QDragEnterEvent* event)
{
    if (event->mimeData()->hasUrls())
        event->acceptProposedAction();
}

void CMessengerDlg::dropEvent(QDropEvent* event)
{
    QStringList paths;
    for (const QUrl& url : event->mimeData()->urls()) {
        if (url.isLocalFile())
            paths.append(url.toLocalFile());
    }
    event->acceptProposedAction();
    // The drop finishes before any message box opens.
    QTimer::singleShot(0, this, [this, paths] { dropFiles(paths); });
}

// --- window state ---

void CMessengerDlg::setVisible(bool visible)
{
    // A start with -m stays in the tray until the user restores the window.
    if (visible && !m_mayShow)
        return;
    QMainWindow::setVisible(visible);
}

void CMessengerDlg::closeEvent(QCloseEvent* event)
{
    if (m_exiting) {
        event->accept();
        return;
    }
    event->ignore();
    hideToTray();
}

void CMessengerDlg::hideToTray()
{
    if (isVisible())
        storePositions(m_controller.windowPositions());
    m_tray->HideToTray();
}

void CMessengerDlg::restoreFromTray()
{
    if (m_exiting)
        return;
    m_mayShow = true;
    m_tray->RestoreFromTray();
}

void CMessengerDlg::restorePositions(const WindowPositions& w)
{
    if (w.moveMainWindow()) {
        QRect r = w.mainWindow.toQRect();
        r.setWidth(std::max(r.width(), MinWidth));
        r.setHeight(std::max(r.height(), MinHeight));
        PlaceSavedWindow(*this, r);
    }
    // A hidden window lays out its client area only when shown; the bars
    // need it now.
    if (layout())
        layout()->setGeometry(rect());
    m_anchors.apply(m_client->size());
    if (!w.verticalDivider.isNull())
        m_vbar->moveTo(w.verticalDivider.left);
    if (!w.horizontalDivider.isNull())
        m_hbar->moveTo(w.horizontalDivider.top);
    captureLayout();
}

void CMessengerDlg::storePositions(WindowPositions& w) const
{
    w.mainWindow = StoredRect::fromQRect(QRect(pos(), size()));
    w.verticalDivider = StoredRect::fromQRect(m_vbar->geometry());
    w.horizontalDivider = StoredRect::fromQRect(m_hbar->geometry());
}
