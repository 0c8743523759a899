#include "shell/acceptdlg.h"

#include "shell/filedialogex.h"
#include "shell/fileicons.h"
#include "shell/tabbedtext.h"
#include "transfers/transfermanager.h"

#include <QApplication>
#include <QCloseEvent>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QStyle>
#include <QVBoxLayout>

namespace {

constexpr int PictureSize = 32;

QLabel* pictureLabel(const QPixmap& picture, QWidget* parent)
{
    auto* label = new QLabel(parent);
    label->setPixmap(picture);
    label->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    label->setFixedWidth(PictureSize + 16);
    return label;
}

CTabbedText* textLabel(const QString& text, QWidget* parent)
{
    return new CTabbedText(text, parent);
}

void centreOnScreen(QWidget* w);

// The picture beside the text, the buttons below, the whole centred.
void layOutPrompt(QDialog* dlg, const QPixmap& picture, QWidget* text, QHBoxLayout* buttons)
{
    auto* top = new QHBoxLayout;
    top->addWidget(pictureLabel(picture, dlg));
    top->addWidget(text, 1);
    auto* layout = new QVBoxLayout(dlg);
    layout->addLayout(top);
    layout->addSpacing(8);
    layout->addLayout(buttons);
    layout->setSizeConstraint(QLayout::SetFixedSize);
    centreOnScreen(dlg);
}

void centreOnScreen(QWidget* w)
{
    w->adjustSize();
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        QRect r(QPoint(), w->size());
        r.moveCenter(screen->availableGeometry().center());
        w->move(r.topLeft());
    }
}

QStyle::StandardPixmap windowIconOf(PromptIcon icon)
{
    switch (icon) {
    case PromptIcon::Information:
        return QStyle::SP_MessageBoxInformation;
    case PromptIcon::Exclamation:
        return QStyle::SP_MessageBoxWarning;
    case PromptIcon::Question:
        break;
    }
    return QStyle::SP_MessageBoxQuestion;
}

} // namespace

// --- the accept prompt ---

CAcceptDlg::CAcceptDlg(const QString& title, const QString& text, const Transfer& offer)
    : QDialog(nullptr, Qt::Dialog | Qt::WindowStaysOnTopHint)
{
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(title);
    setWindowIcon(style()->standardIcon(QStyle::SP_MessageBoxQuestion));
    m_picture = FileTypeIcon(PathNamePart(offer.senderPath), offer.isFolder != 0)
                    .pixmap(PictureSize, PictureSize);
    m_text = textLabel(QString(), this);
    setText(text);
    m_accept = new QPushButton(QStringLiteral("&Accept"), this);
    m_deny = new QPushButton(QStringLiteral("&Deny"), this);
    m_accept->setDefault(true);
    connect(m_accept, &QPushButton::clicked, this, [this] {
        m_answered = true;
        emit answered(true);
    });
    connect(m_deny, &QPushButton::clicked, this, [this] {
        m_answered = true;
        emit answered(false);
    });

    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(m_accept);
    buttons->addWidget(m_deny);
    layOutPrompt(this, m_picture, m_text, buttons);
}

QString CAcceptDlg::text() const
{
    return m_text->text();
}

void CAcceptDlg::setText(const QString& text)
{
    m_text->setText(text);
}

void CAcceptDlg::reject()
{
    if (!m_answered && isVisible()) {
        m_answered = true;
        emit answered(false);
    }
    QDialog::reject();
}

void CAcceptDlg::closeEvent(QCloseEvent* event)
{
    if (!m_answered && isVisible()) {
        m_answered = true;
        emit answered(false);
    }
    QDialog::closeEvent(event);
}

// --- the resume prompt ---

CResumeDlg::CResumeDlg(const ResumePromptContent& content, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::WindowStaysOnTopHint), m_icon(content.icon)
{
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowModality(Qt::ApplicationModal);
    setWindowTitle(content.title);
    setWindowIcon(style()->standardIcon(windowIconOf(content.icon)));
    m_picture = FileTypeIcon(content.senderName, content.folder).pixmap(PictureSize, PictureSize);
    m_text = textLabel(content.text, this);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    const QList<QPair<ResumeChoice, QString>> choices = {
        {ResumeChoice::Resume, QStringLiteral("&Resume")},
        {ResumeChoice::Overwrite, QStringLiteral("&Overwrite")},
        {ResumeChoice::Reselect, QStringLiteral("R&eselect")},
        {ResumeChoice::AutoRename, QStringLiteral("&AutoRename")},
        {ResumeChoice::Cancel, QStringLiteral("&Cancel")},
    };
    for (const auto& [choice, caption] : choices) {
        auto* b = new QPushButton(caption, this);
        b->setAutoDefault(false);
        m_buttons.insert(int(choice), b);
        buttons->addWidget(b);
        connect(b, &QPushButton::clicked, this, [this, choice = choice] {
            m_answered = true;
            emit chosen(choice);
            close();
        });
    }
    button(ResumeChoice::Resume)->setEnabled(content.resumeEnabled);
    button(ResumeChoice::Overwrite)->setEnabled(content.overwriteEnabled);

    layOutPrompt(this, m_picture, m_text, buttons);
}

QString CResumeDlg::text() const
{
    return m_text->text();
}

QPushButton* CResumeDlg::button(ResumeChoice choice) const
{
    return m_buttons.value(int(choice));
}

void CResumeDlg::reject()
{
    if (!m_answered) {
        m_answered = true;
        emit chosen(ResumeChoice::Cancel);
    }
    QDialog::reject();
}

void CResumeDlg::closeEvent(QCloseEvent* event)
{
    if (!m_answered) {
        m_answered = true;
        emit chosen(ResumeChoice::Cancel);
    }
    QDialog::closeEvent(event);
}

// --- the prompts of the sessions ---

TransferPrompts::TransferPrompts(QObject* parent) : QObject(parent) {}

TransferPrompts::~TransferPrompts()
{
    for (FileSessionId session : m_prompts.keys())
        closePrompts(session);
}

void TransferPrompts::deny(FileSessionId session)
{
    if (m_manager)
        m_manager->answerDeny(session);
}

void TransferPrompts::askAccept(FileSessionId session, const QString& title, const QString& text,
                                const Transfer& offer)
{
    auto* dlg = new CAcceptDlg(title, text, offer);
    connect(dlg, &CAcceptDlg::answered, this, [this, session, dlg](bool accept) {
        if (!accept) {
            deny(session);
            dlg->disconnect(this);
            dlg->close();
            return;
        }
        // The prompt hides while the picker is open; the sender shows
        // "Selecting save path...".
        dlg->hide();
        if (m_manager)
            m_manager->answerAccept(session);
    });
    m_prompts[session].accept = dlg;
    dlg->show();
    dlg->raise();
    dlg->activateWindow();
    emit promptShown(dlg);
}

void TransferPrompts::acceptTextChanged(FileSessionId session, const QString& text)
{
    if (CAcceptDlg* dlg = acceptDialog(session))
        dlg->setText(text);
}

void TransferPrompts::askSavePath(FileSessionId session, const QString& proposedName, bool)
{
    Prompts& p = m_prompts[session];
    // The picker belongs to the accept prompt and goes with it.
    auto* dlg = new CFileDialogEx(p.accept, QStringLiteral("Save As"), false, proposedName);
    dlg->setAttribute(Qt::WA_DeleteOnClose);
    connect(dlg, &QDialog::finished, this, [this, session, dlg] {
        if (dlg->result() == CFileDialogEx::Chosen && m_manager)
            m_manager->answerSavePath(session, dlg->SelectedPath());
        else
            deny(session);
    });
    p.picker = dlg;
    dlg->open();
    emit promptShown(dlg);
}

void TransferPrompts::askResume(FileSessionId session, const ResumePromptContent& content)
{
    Prompts& p = m_prompts[session];
    if (p.resume) {
        p.resume->disconnect(this);
        p.resume->close();
    }
    auto* dlg = new CResumeDlg(content);
    connect(dlg, &CResumeDlg::chosen, this, [this, session](ResumeChoice choice) {
        if (m_manager)
            m_manager->answerResume(session, choice);
    });
    p.resume = dlg;
    dlg->show();
    dlg->raise();
    dlg->activateWindow();
    emit promptShown(dlg);
}

void TransferPrompts::closePrompts(FileSessionId session)
{
    const Prompts p = m_prompts.take(session);
    // Nothing answers any more: the session has decided or ended.
    for (QWidget* w :
         {static_cast<QWidget*>(p.picker.data()), static_cast<QWidget*>(p.resume.data()),
          static_cast<QWidget*>(p.accept.data())}) {
        if (!w)
            continue;
        w->disconnect(this);
        w->hide();
        w->deleteLater();
    }
}

CAcceptDlg* TransferPrompts::acceptDialog(FileSessionId session) const
{
    return m_prompts.value(session).accept;
}

CFileDialogEx* TransferPrompts::picker(FileSessionId session) const
{
    return m_prompts.value(session).picker;
}

CResumeDlg* TransferPrompts::resumeDialog(FileSessionId session) const
{
    return m_prompts.value(session).resume;
}
