#include "shell/optionsdlg.h"

#include "profile/autostart.h"
#include "profile/profilefolder.h"
#include "shell/editdlg.h"
#include "shell/selsharesdlg.h"
#include "shell/shellfiles.h"
#include "shell/tabchilddlg.h"
#include "shell/tabdlgctrl.h"
#include "shell/upnpdlg.h"

#include <QCheckBox>
#include <QCoreApplication>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMetaObject>
#include <QPointer>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpressionValidator>
#include <QVBoxLayout>

namespace {

QGroupBox* group(const QString& title, QWidget* parent)
{
    auto* box = new QGroupBox(title, parent);
    new QVBoxLayout(box);
    return box;
}

template <typename W> W* addTo(QGroupBox* box, W* widget)
{
    box->layout()->addWidget(widget);
    return widget;
}

QLineEdit* textBox(QWidget* parent, int maxLength, const char* name)
{
    auto* edit = new QLineEdit(parent);
    edit->setMaxLength(maxLength);
    edit->setObjectName(QLatin1String(name));
    return edit;
}

// Digits only, as a number box takes them.
QLineEdit* numberBox(QWidget* parent, int maxLength, const char* name)
{
    QLineEdit* edit = textBox(parent, maxLength, name);
    edit->setValidator(
        new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]*")), edit));
    return edit;
}

QCheckBox* check(const QString& text, const char* name, QWidget* parent)
{
    auto* box = new QCheckBox(text, parent);
    box->setObjectName(QLatin1String(name));
    return box;
}

QRadioButton* radio(const QString& text, const char* name, QWidget* parent)
{
    auto* button = new QRadioButton(text, parent);
    button->setObjectName(QLatin1String(name));
    return button;
}

// The number in a box: the leading decimal digits, 0 for none; a value
// beyond the integer range stays at its largest.
int32_t decimal(const QString& text)
{
    qint64 value = 0;
    for (const QChar c : text) {
        if (!c.isDigit() || c.digitValue() < 0)
            break;
        value = std::min<qint64>(value * 10 + c.digitValue(), INT32_MAX);
    }
    return int32_t(value);
}

int32_t flag(const QAbstractButton* button)
{
    return button->isChecked() ? 1 : 0;
}

} // namespace

COptionsDlg::COptionsDlg(Settings& settings, Identity& own, CUPNPDlg* router, QWidget* parent)
    : QDialog(parent), m_settings(settings), m_own(own), m_router(router),
      m_programPath(QCoreApplication::applicationFilePath()), m_tabs(new CTabDlgCtrl(this))
{
    setWindowTitle(QStringLiteral("Program Options"));
    buildPages();
    QDialogButtonBox* buttons = OkCancelButtons(this);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_tabs);
    layout->addWidget(buttons);
    layout->setSizeConstraint(QLayout::SetFixedSize);
}

void COptionsDlg::buildPages()
{
    // Connections
    auto* connections = new CTabChildDlg;
    {
        auto* startup = group(QStringLiteral("Startup"), connections);
        m_startWithSystem = addTo(startup, check(QStringLiteral("&Start Program with Windows"),
                                                 "startWithSystem", connections));
        m_connectAll = addTo(startup, check(QStringLiteral("&Connect to All Contacts on Startup"),
                                            "connectAll", connections));
        auto* acceptance = group(QStringLiteral("New Contact Acceptance"), connections);
        m_autoAcceptContacts =
            addTo(acceptance, radio(QStringLiteral("&Auto Accept All New Contacts"),
                                    "autoAcceptContacts", connections));
        m_mustMatchPassword =
            addTo(acceptance, radio(QStringLiteral("&New Contacts Must Match Password"),
                                    "mustMatchPassword", connections));
        auto* password = group(QStringLiteral("Connection Password"), connections);
        m_password = addTo(password, textBox(connections, MaxText, "password"));
        m_password->setEchoMode(QLineEdit::Password);
        auto* name = group(QStringLiteral("Screen Name"), connections);
        m_screenName = addTo(name, textBox(connections, MaxText, "screenName"));
        auto* layout = new QVBoxLayout(connections);
        for (QWidget* w : {startup, acceptance, password, name})
            layout->addWidget(w);
        layout->addStretch();
    }

    // Notifications
    auto* notifications = new CTabChildDlg;
    {
        auto* sounds = group(QStringLiteral("Sounds"), notifications);
        m_soundOnline = addTo(sounds, check(QStringLiteral("&Play sound when contact comes online"),
                                            "soundOnline", notifications));
        m_soundMessage = addTo(sounds, check(QStringLiteral("P&lay sound on new messages"),
                                             "soundMessage", notifications));
        auto* visual = group(QStringLiteral("Visual"), notifications);
        m_flash = addTo(visual, check(QStringLiteral("&Flash taskbar button on new messages"),
                                      "flash", notifications));
        m_idle = addTo(visual, check(QStringLiteral("&Enable \"Idle\" away message for me"),
                                     "idleAway", notifications));
        m_animateOnline = addTo(visual, check(QStringLiteral("&Animate when contacts come online"),
                                              "animateOnline", notifications));
        m_animateMessage = addTo(visual, check(QStringLiteral("A&nimate on new messages"),
                                               "animateMessage", notifications));
        m_animateBrowse =
            addTo(visual, check(QStringLiteral("An&imate when contacts browse my files"),
                                "animateBrowse", notifications));
        auto* updates = group(QStringLiteral("Program Updates"), notifications);
        m_autoUpdate = addTo(updates, check(QStringLiteral("A&utomatically check for updates"),
                                            "autoUpdate", notifications));
        auto* layout = new QVBoxLayout(notifications);
        for (QWidget* w : {sounds, visual, updates})
            layout->addWidget(w);
        layout->addStretch();
    }

    // Transfers
    auto* transfers = new CTabChildDlg;
    {
        auto* options = group(QStringLiteral("Transfer Options"), transfers);
        auto* sharingRow = new QWidget(transfers);
        auto* sharingLayout = new QHBoxLayout(sharingRow);
        sharingLayout->setContentsMargins(0, 0, 0, 0);
        m_sharing = check(QStringLiteral("&Enable Folder Sharing"), "sharing", sharingRow);
        m_selectShares = new QPushButton(QStringLiteral("&Select Shares"), sharingRow);
        m_selectShares->setObjectName(QStringLiteral("selectShares"));
        m_selectShares->setAutoDefault(false);
        sharingLayout->addWidget(m_sharing);
        sharingLayout->addStretch();
        sharingLayout->addWidget(m_selectShares);
        addTo(options, sharingRow);
        m_subfolders =
            addTo(options, check(QStringLiteral("&Create autosave subdirectories for peers"),
                                 "subfolders", transfers));
        auto* autosave = group(QStringLiteral("AutoSave Options"), transfers);
        m_acceptAll = addTo(autosave, radio(QStringLiteral("&Auto accept all incoming transfers"),
                                            "acceptAll", transfers));
        m_acceptSpecific =
            addTo(autosave, radio(QStringLiteral("&Only auto accept transfers from specific peers"),
                                  "acceptSpecific", transfers));
        auto* queue = group(QStringLiteral("Transfer Queue (for sending)"), transfers);
        auto* queueRow = new QWidget(transfers);
        auto* queueLayout = new QHBoxLayout(queueRow);
        queueLayout->setContentsMargins(0, 0, 0, 0);
        m_queue = check(QStringLiteral("E&nable"), "queue", queueRow);
        m_maxSend = numberBox(queueRow, 5, "maxSend");
        m_maxSend->setMaximumWidth(DialogUnits(this, 30, 0).width());
        queueLayout->addWidget(m_queue);
        queueLayout->addSpacing(12);
        queueLayout->addWidget(new QLabel(QStringLiteral("simultaneous max:"), queueRow));
        queueLayout->addWidget(m_maxSend);
        queueLayout->addStretch();
        addTo(queue, queueRow);
        auto* path = group(QStringLiteral("AutoSave Path"), transfers);
        m_autosavePath = addTo(path, textBox(transfers, 32767, "autosavePath"));
        auto* layout = new QVBoxLayout(transfers);
        for (QWidget* w : {options, autosave, queue, path})
            layout->addWidget(w);
        layout->addStretch();
        connect(m_selectShares, &QPushButton::clicked, this, &COptionsDlg::selectShares);
    }

    // Advanced
    auto* advanced = new CTabChildDlg;
    {
        auto* type = group(QStringLiteral("Connection Type"), advanced);
        m_dynamicIp =
            addTo(type, radio(QStringLiteral("&Dynamic IP (DSL, Dialup, Satellite, ISDN)"),
                              "dynamicIp", advanced));
        m_staticIp = addTo(
            type, radio(QStringLiteral("&Static IP (Cable Modem, T1, T3)"), "staticIp", advanced));
        auto* dns = group(QStringLiteral("Your DNS/Domain"), advanced);
        m_dns = addTo(dns, textBox(advanced, MaxText, "dns"));
        auto* key = group(QStringLiteral("Your Encryption Key"), advanced);
        m_key = addTo(key, textBox(advanced, MaxText, "key"));
        auto* port = group(QStringLiteral("Data Port (1-65535)"), advanced);
        m_port = addTo(port, numberBox(advanced, 5, "port"));
        auto* translucency = group(QStringLiteral("Translucency (0-255)"), advanced);
        m_translucency = addTo(translucency, numberBox(advanced, 3, "translucency"));
        auto* numbers = new QHBoxLayout;
        numbers->addWidget(port);
        numbers->addWidget(translucency);
        auto* layout = new QVBoxLayout(advanced);
        for (QWidget* w : {type, dns, key})
            layout->addWidget(w);
        layout->addLayout(numbers);
        layout->addStretch();
    }

    m_tabs->AddPage(QStringLiteral("Connections"), connections);
    m_tabs->AddPage(QStringLiteral("Notifications"), notifications);
    m_tabs->AddPage(QStringLiteral("Transfers"), transfers);
    m_tabs->AddPage(QStringLiteral("Advanced"), advanced);
    m_tabs->setMinimumSize(DialogUnits(this, 250, 210));
}

void COptionsDlg::showEvent(QShowEvent* event)
{
    if (!m_filled) {
        m_filled = true;
        fill();
    }
    QDialog::showEvent(event);
}

void COptionsDlg::fill()
{
    const Settings& s = m_settings;
    m_startWithSystem->setChecked(Autostart::ReadEntry(m_programPath));
    m_connectAll->setChecked(Settings::on(s.connectAllOnStartup));
    (s.requirePassword == 0 ? m_autoAcceptContacts : m_mustMatchPassword)->setChecked(true);
    m_soundOnline->setChecked(Settings::on(s.soundOnline));
    m_soundMessage->setChecked(Settings::on(s.soundMessage));
    m_flash->setChecked(Settings::on(s.flashOnMessage));
    m_idle->setChecked(Settings::on(s.idleAway));
    m_animateOnline->setChecked(Settings::on(s.animateOnline));
    m_animateMessage->setChecked(Settings::on(s.animateMessage));
    m_animateBrowse->setChecked(Settings::on(s.animateBrowse));
    m_autoUpdate->setChecked(Settings::on(s.autoUpdate));
    m_sharing->setChecked(Settings::on(s.sharingEnabled));
    m_subfolders->setChecked(Settings::on(s.autosaveSubfolders));
    (s.autoAcceptAll != 0 ? m_acceptAll : m_acceptSpecific)->setChecked(true);
    m_queue->setChecked(Settings::on(s.sendQueueEnabled));
    (s.dynamicIp != 0 ? m_dynamicIp : m_staticIp)->setChecked(true);

    m_password->setText(m_own.password.text());
    m_screenName->setText(m_own.name.text());
    m_dns->setText(m_own.dns.text());
    m_key->setText(m_own.key.text());
    m_maxSend->setText(QString::number(s.maxSendTransfers));
    m_port->setText(QString::number(m_own.port));
    m_translucency->setText(QString::number(s.translucency));
    m_autosavePath->setText(s.autosaveDirText());
}

void COptionsDlg::selectShares()
{
    CSelSharesDlg editor(QStringLiteral("Shared Paths (for All Contacts)"), m_settings.sharedPaths,
                         this);
    if (editor.exec() == QDialog::Accepted)
        emit sharedPathsEdited(m_settings.sharedPaths);
}

void COptionsDlg::accept()
{
    Settings& s = m_settings;
    const QString autosave = m_autosavePath->text();
    if (!CreateFolderPath(autosave)) {
        ShowMessageBox(this, QMessageBox::Warning, QStringLiteral("Cannot Create Directory"),
                       QStringLiteral("Could not create autosave directory, check your drive and "
                                      "syntax."));
        return;
    }
    s.autosaveDir = autosave.toUtf8();
    const QString key = m_key->text();
    if (key.size() < MinKeyLength) {
        ShowMessageBox(this, QMessageBox::Warning, QStringLiteral("Encryption Key Invalid"),
                       QStringLiteral("Encryption key must be at least 9 characters long."));
        return;
    }
    m_own.key.setText(key);
    const int oldPort = m_own.port;

    s.maxSendTransfers = std::max(decimal(m_maxSend->text()), 1);
    // A port above the range is brought back; 0 is kept as typed.
    m_own.port = std::min(decimal(m_port->text()), 65535);
    s.translucency = std::clamp(decimal(m_translucency->text()), 0, 255);

    s.connectAllOnStartup = flag(m_connectAll);
    s.requirePassword = flag(m_mustMatchPassword);
    s.soundOnline = flag(m_soundOnline);
    s.soundMessage = flag(m_soundMessage);
    s.flashOnMessage = flag(m_flash);
    s.idleAway = flag(m_idle);
    s.animateOnline = flag(m_animateOnline);
    s.animateMessage = flag(m_animateMessage);
    s.animateBrowse = flag(m_animateBrowse);
    s.autoUpdate = flag(m_autoUpdate);
    s.sharingEnabled = flag(m_sharing);
    s.autosaveSubfolders = flag(m_subfolders);
    s.autoAcceptAll = flag(m_acceptAll);
    s.sendQueueEnabled = flag(m_queue);
    s.dynamicIp = flag(m_dynamicIp);
    m_own.password.setText(m_password->text().left(MaxText));
    m_own.name.setText(m_screenName->text().left(MaxText));
    m_own.dns.setText(m_dns->text().left(MaxText));

    // A failure to write the entry is not the user's to see.
    Autostart::WriteEntry(m_programPath, m_startWithSystem->isChecked());

    if (m_own.port != oldPort && m_router) {
        const int newPort = m_own.port;
        QPointer<CUPNPDlg> router = m_router;
        QMetaObject::invokeMethod(
            m_router,
            [router, oldPort, newPort] {
                if (router)
                    router->RemapPort(oldPort, newPort);
            },
            Qt::QueuedConnection);
    }
    QDialog::accept();
}
