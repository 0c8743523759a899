#include "msgrichedit2.h"

#include "messenger/rtfreader.h"
#include "richtextbridge.h"

#include <QAbstractTextDocumentLayout>
#include <QApplication>
#include <QClipboard>
#include <QColorDialog>
#include <QContextMenuEvent>
#include <QDesktopServices>
#include <QDialogButtonBox>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QFocusEvent>
#include <QFontDialog>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QMenu>
#include <QMimeData>
#include <QMouseEvent>
#include <QPixmap>
#include <QPushButton>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextDocumentFragment>
#include <QUrl>
#include <QVBoxLayout>

using namespace Qt::StringLiterals;

namespace {

bool isBold(const QTextCharFormat& f)
{
    return f.fontWeight() >= QFont::DemiBold;
}
bool isItalic(const QTextCharFormat& f)
{
    return f.fontItalic();
}
bool isUnderlined(const QTextCharFormat& f)
{
    return f.fontUnderline();
}
bool isStruckOut(const QTextCharFormat& f)
{
    return f.fontStrikeOut();
}

} // namespace

FontChooser::FontChooser(const QTextCharFormat& current, QWidget* parent) : QDialog(parent)
{
    setWindowTitle(QStringLiteral("Font"));
    setObjectName(QStringLiteral("fontChooser"));
    m_fonts = new QFontDialog(current.font(), this);
    m_fonts->setWindowFlags(Qt::Widget);
    m_fonts->setOptions(QFontDialog::NoButtons | QFontDialog::DontUseNativeDialog);
    // A face this system lacks shows as its stand-in; left alone, it stays.
    const QStringList faces = current.fontFamilies().toStringList();
    m_face = faces.isEmpty() ? QString() : faces.first();
    m_shownFamily = m_fonts->currentFont().family();
    const QBrush brush = current.foreground();
    m_color = brush.style() == Qt::NoBrush ? QColor(Qt::black) : brush.color();
    m_colorButton = new QPushButton(QStringLiteral("&Color..."), this);
    showColor();
    connect(m_colorButton, &QPushButton::clicked, this, [this] {
        auto* colors = new QColorDialog(m_color, this);
        colors->setAttribute(Qt::WA_DeleteOnClose);
        connect(colors, &QColorDialog::colorSelected, this, [this](const QColor& c) {
            m_color = c;
            showColor();
        });
        colors->open();
    });
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    auto* lower = new QHBoxLayout;
    lower->addWidget(m_colorButton);
    lower->addStretch(1);
    lower->addWidget(buttons);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_fonts);
    layout->addLayout(lower);
}

void FontChooser::setColor(const QColor& color)
{
    m_color = color;
    showColor();
}

void FontChooser::setChosenFont(const QFont& font)
{
    m_fonts->setCurrentFont(font);
}

void FontChooser::showColor()
{
    QPixmap swatch(16, 16);
    swatch.fill(m_color);
    m_colorButton->setIcon(QIcon(swatch));
}

QTextCharFormat FontChooser::chosenFormat() const
{
    const QFont font = m_fonts->currentFont();
    QTextCharFormat f;
    const bool faceKept = font.family() == m_shownFamily && !m_face.isEmpty();
    f.setFontFamilies(QStringList{faceKept ? m_face : font.family()});
    f.setFontPointSize(font.pointSizeF() > 0 ? font.pointSizeF() : 10);
    f.setFontWeight(font.bold() ? QFont::Bold : QFont::Normal);
    f.setFontItalic(font.italic());
    f.setFontUnderline(font.underline());
    f.setFontStrikeOut(font.strikeOut());
    f.setForeground(m_color);
    return f;
}

QStringList LocalDropPaths(const QMimeData* data)
{
    QStringList paths;
    if (!data || !data->hasUrls())
        return paths;
    for (const QUrl& url : data->urls()) {
        if (!url.isLocalFile())
            return QStringList();
        paths.append(url.toLocalFile());
    }
    return paths;
}

CMsgRichEdit2::CMsgRichEdit2(QWidget* parent) : QTextEdit(parent)
{
    setAcceptRichText(true);
    setAcceptDrops(true);
    setTabChangesFocus(false);
    document()->setDocumentMargin(3);
    connect(document(), &QTextDocument::contentsChange, this, &CMsgRichEdit2::onContentsChange);
    connect(this, &QTextEdit::textChanged, this, &CMsgRichEdit2::onTextChanged);
}

void CMsgRichEdit2::InitHistory()
{
    m_isHistory = true;
    m_limited = false;
    setReadOnly(true);
    setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    setUndoRedoEnabled(false);
    viewport()->setMouseTracking(true);
    m_typing.setSuppressed(true);
}

void CMsgRichEdit2::InitInput()
{
    m_isHistory = false;
    m_limited = true;
    setReadOnly(false);
    setUndoRedoEnabled(true);
    DefaultFormat();
    m_typing.setSuppressed(false);
}

void CMsgRichEdit2::DefaultFormat()
{
    const QTextCharFormat format = RichTextBridge::charFormat(RichFormat::chatDefault());
    QTextCursor all(document());
    all.select(QTextCursor::Document);
    all.setCharFormat(format);
    all.setBlockCharFormat(format);
    setCurrentCharFormat(format);
}

void CMsgRichEdit2::Clear()
{
    if (m_isHistory) {
        m_history->Clear();
        refreshHistory();
        return;
    }
    const QTextCharFormat keep = currentCharFormat();
    QTextCursor all(document());
    all.select(QTextCursor::Document);
    all.removeSelectedText();
    setCurrentCharFormat(keep);
}

void CMsgRichEdit2::attachHistory(ChatHistory* history)
{
    m_history = history ? history : &m_own;
    refreshHistory();
}

void CMsgRichEdit2::showHistory(const ChatHistory& history)
{
    if (&history != m_history)
        m_own = history;
    if (&history != m_history && m_history != &m_own)
        m_history = &m_own;
    refreshHistory();
}

void CMsgRichEdit2::refreshHistory()
{
    render(m_history->content(), m_history->droppedCharacters());
}

void CMsgRichEdit2::StreamInAtEnd(const QByteArray& rtf)
{
    m_history->StreamInAtEnd(rtf);
    refreshHistory();
}

void CMsgRichEdit2::render(const RichText& now, qint64 dropped)
{
    const bool atBottom = isScrolledToBottom();
    const int position = verticalScrollBar()->value();
    // Usually the history only grew at its end, and perhaps lost as many
    // characters at its front as the pane must lose; anything else redraws.
    const qint64 dropFront = dropped - m_shownDropped;
    bool updated = false;
    if (dropFront == 0) {
        updated = appendTo(m_shown, now, 0);
    } else if (dropFront > 0 && dropFront < m_shown.characterCount()) {
        RichText kept = m_shown;
        kept.removeLeading(int(dropFront));
        updated = appendTo(kept, now, int(dropFront));
    }
    if (!updated) {
        RichTextBridge::setDocument(*document(), now,
                                    m_isHistory ? RichTextBridge::Links::Detect
                                                : RichTextBridge::Links::Plain);
    }
    m_shown = now;
    m_shownDropped = dropped;
    // The scroll bar follows the document's new size at once.
    document()->documentLayout()->documentSize();
    if (atBottom)
        scrollToEnd();
    else
        verticalScrollBar()->setValue(position);
}

bool CMsgRichEdit2::appendTo(const RichText& shown, const RichText& now, int dropFront)
{
    const std::optional<RichText> tail = RichTextBridge::appendedTail(shown, now);
    if (!tail)
        return false;
    QTextCursor cursor(document());
    cursor.beginEditBlock();
    if (dropFront > 0) {
        cursor.setPosition(dropFront, QTextCursor::KeepAnchor);
        cursor.removeSelectedText();
    }
    cursor.movePosition(QTextCursor::End);
    RichTextBridge::insert(
        cursor, *tail, m_isHistory ? RichTextBridge::Links::Detect : RichTextBridge::Links::Plain);
    cursor.endEditBlock();
    return true;
}

void CMsgRichEdit2::scrollToEnd()
{
    QTextCursor end(document());
    end.movePosition(QTextCursor::End);
    setTextCursor(end);
    verticalScrollBar()->setValue(verticalScrollBar()->maximum());
}

bool CMsgRichEdit2::isScrolledToBottom() const
{
    const QScrollBar* bar = verticalScrollBar();
    return bar->value() + 1 >= bar->maximum();
}

QByteArray CMsgRichEdit2::GetRtf() const
{
    if (m_isHistory)
        return m_history->GetRtf();
    return RichTextBridge::rtfFromDocument(*document());
}

void CMsgRichEdit2::setRtf(const QByteArray& rtf)
{
    RichText text = RtfReader::read(rtf);
    // The document's last paragraph break ends its text; it adds no empty line.
    QList<RichParagraph> paragraphs = text.paragraphs();
    RichText trimmed;
    if (paragraphs.size() > 1 && paragraphs.last().length() == 0)
        paragraphs.removeLast();
    for (qsizetype i = 0; i < paragraphs.size(); ++i) {
        if (i > 0)
            trimmed.breakParagraph();
        for (const RichRun& run : paragraphs.at(i).runs)
            trimmed.appendText(run.text, run.format);
    }
    RichTextBridge::setDocument(*document(), trimmed);
}

int CMsgRichEdit2::textLength() const
{
    return document()->characterCount() - 1;
}

void CMsgRichEdit2::onContentsChange(int position, int /*removed*/, int added)
{
    if (!m_limited || m_trimming || added <= 0)
        return;
    const int excess = textLength() - InputLimit;
    if (excess <= 0)
        return;
    // What was just typed or pasted is cut back to the limit.
    m_trimming = true;
    QTextCursor cut(document());
    const int end = position + added;
    cut.setPosition(std::max(position, end - excess));
    cut.setPosition(end, QTextCursor::KeepAnchor);
    cut.removeSelectedText();
    m_trimming = false;
}

void CMsgRichEdit2::onTextChanged()
{
    if (m_trimming)
        return;
    report(m_typing.textChanged(!document()->isEmpty()));
}

void CMsgRichEdit2::report(std::optional<int> flag)
{
    if (flag)
        emit typingChanged(*flag);
}

void CMsgRichEdit2::keyPressEvent(QKeyEvent* event)
{
    const int key = event->key();
    if (key == Qt::Key_F2 || key == Qt::Key_F3 || key == Qt::Key_F4) {
        emit functionKeyPressed(key);
        event->accept();
        return;
    }
    if ((key == Qt::Key_Return || key == Qt::Key_Enter) && !m_isHistory &&
        !(event->modifiers() & (Qt::ShiftModifier | Qt::ControlModifier))) {
        emit sendRequested();
        event->accept();
        return;
    }
    if (key == Qt::Key_Escape) {
        event->ignore();
        return;
    }
    QTextEdit::keyPressEvent(event);
}

void CMsgRichEdit2::focusInEvent(QFocusEvent* event)
{
    QTextEdit::focusInEvent(event);
    report(m_typing.focusGained(!document()->isEmpty()));
}

void CMsgRichEdit2::focusOutEvent(QFocusEvent* event)
{
    QTextEdit::focusOutEvent(event);
    // A context menu takes the focus only for a moment.
    if (event->reason() != Qt::PopupFocusReason)
        report(m_typing.focusLost());
}

bool CMsgRichEdit2::selectionHas(bool (*test)(const QTextCharFormat&)) const
{
    const QTextCursor cursor = textCursor();
    if (!cursor.hasSelection())
        return test(currentCharFormat());
    const int start = cursor.selectionStart();
    const int end = cursor.selectionEnd();
    for (QTextBlock block = document()->findBlock(start); block.isValid() && block.position() < end;
         block = block.next()) {
        for (auto it = block.begin(); !it.atEnd(); ++it) {
            const QTextFragment f = it.fragment();
            if (!f.isValid())
                continue;
            if (f.position() + f.length() <= start || f.position() >= end)
                continue;
            if (!test(f.charFormat()))
                return false;
        }
    }
    return true;
}

QMenu* CMsgRichEdit2::createContextMenu(QWidget* parent)
{
    auto* menu = new QMenu(parent);
    auto add = [this, menu](const QString& text, int command) {
        QAction* a = menu->addAction(text);
        a->setData(command);
        connect(a, &QAction::triggered, this, [this, command] { runCommand(command); });
        return a;
    };
    const bool selection = textCursor().hasSelection();
    if (m_isHistory) {
        add(QStringLiteral("Copy"), CmdCopy)->setEnabled(selection);
        add(QStringLiteral("Copy All"), CmdCopyAll);
        add(QStringLiteral("Clear Screen"), CmdClearScreen);
        return menu;
    }
    add(QStringLiteral("Copy"), CmdCopy)->setEnabled(selection);
    add(QStringLiteral("Paste"), CmdPaste)->setEnabled(canPaste());
    add(QStringLiteral("Copy All"), CmdCopyAll);
    add(QStringLiteral("Select All"), CmdSelectAll);
    menu->addSeparator();
    add(selectionHas(isBold) ? QStringLiteral("Set UnBold") : QStringLiteral("Set Bold"), CmdBold);
    add(selectionHas(isItalic) ? QStringLiteral("Set UnItalic") : QStringLiteral("Set Italic"),
        CmdItalic);
    add(selectionHas(isUnderlined) ? QStringLiteral("Remove Underline")
                                   : QStringLiteral("Set Underline"),
        CmdUnderline);
    add(selectionHas(isStruckOut) ? QStringLiteral("Remove Strikeout")
                                  : QStringLiteral("Set Strikeout"),
        CmdStrikeOut);
    add(QStringLiteral("Set Color"), CmdColor);
    add(QStringLiteral("Set Font"), CmdFont);
    menu->addSeparator();
    add(QStringLiteral("Clear Screen"), CmdClearScreen);
    add(QStringLiteral("Set to Default Font"), CmdDefaultFont);
    return menu;
}

void CMsgRichEdit2::applyToSelection(const QTextCharFormat& format)
{
    applyTo(textCursor(), format);
}

void CMsgRichEdit2::applyTo(QTextCursor cursor, const QTextCharFormat& format)
{
    if (cursor.hasSelection())
        cursor.mergeCharFormat(format);
    else
        mergeCurrentCharFormat(format);
}

void CMsgRichEdit2::runCommand(int command)
{
    QTextCharFormat f;
    switch (command) {
    case CmdCopy:
        copy();
        break;
    case CmdCopyAll:
        selectAll();
        copy();
        break;
    case CmdClearScreen:
        Clear();
        emit cleared();
        break;
    case CmdSelectAll:
        selectAll();
        break;
    case CmdPaste:
        paste();
        break;
    case CmdBold:
        f.setFontWeight(selectionHas(isBold) ? QFont::Normal : QFont::Bold);
        applyToSelection(f);
        break;
    case CmdItalic:
        f.setFontItalic(!selectionHas(isItalic));
        applyToSelection(f);
        break;
    case CmdUnderline:
        f.setFontUnderline(!selectionHas(isUnderlined));
        applyToSelection(f);
        break;
    case CmdStrikeOut:
        f.setFontStrikeOut(!selectionHas(isStruckOut));
        applyToSelection(f);
        break;
    case CmdColor:
        chooseColor();
        break;
    case CmdFont:
        chooseFont();
        break;
    case CmdDefaultFont:
        DefaultFormat();
        break;
    default:
        break;
    }
}

void CMsgRichEdit2::chooseColor()
{
    const QBrush current = currentCharFormat().foreground();
    const QColor initial = current.style() == Qt::NoBrush ? QColor(Qt::black) : current.color();
    // The choice applies to the selection the menu was opened on.
    const QTextCursor selection = textCursor();
    auto* dialog = new QColorDialog(initial, this);
    dialog->setObjectName(QStringLiteral("colorChooser"));
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    connect(dialog, &QColorDialog::colorSelected, this, [this, selection](const QColor& chosen) {
        QTextCharFormat f;
        f.setForeground(chosen);
        applyTo(selection, f);
    });
    dialog->open();
}

void CMsgRichEdit2::chooseFont()
{
    const QTextCursor selection = textCursor();
    auto* dialog = new FontChooser(currentCharFormat(), this);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    connect(dialog, &QDialog::accepted, this,
            [this, selection, dialog] { applyTo(selection, dialog->chosenFormat()); });
    dialog->open();
}

void CMsgRichEdit2::contextMenuEvent(QContextMenuEvent* event)
{
    QMenu* menu = createContextMenu(this);
    menu->setAttribute(Qt::WA_DeleteOnClose);
    menu->popup(event->globalPos());
}

void CMsgRichEdit2::mousePressEvent(QMouseEvent* event)
{
    if (m_isHistory && event->button() == Qt::LeftButton) {
        const QString href = anchorAt(event->position().toPoint());
        if (!href.isEmpty()) {
            setFocus(Qt::MouseFocusReason);
            QDesktopServices::openUrl(QUrl::fromUserInput(href));
            event->accept();
            return;
        }
    }
    QTextEdit::mousePressEvent(event);
}

void CMsgRichEdit2::mouseMoveEvent(QMouseEvent* event)
{
    if (m_isHistory) {
        const bool overLink = !anchorAt(event->position().toPoint()).isEmpty();
        viewport()->setCursor(overLink ? Qt::PointingHandCursor : Qt::IBeamCursor);
    }
    QTextEdit::mouseMoveEvent(event);
}

bool CMsgRichEdit2::answerDrag(QDropEvent* event)
{
    // Files are taken anywhere; other drags only by an input, as text.
    if (!LocalDropPaths(event->mimeData()).isEmpty()) {
        event->acceptProposedAction();
        return true;
    }
    if (m_isHistory) {
        event->ignore();
        return true;
    }
    return false;
}

void CMsgRichEdit2::dragEnterEvent(QDragEnterEvent* event)
{
    if (!answerDrag(event))
        QTextEdit::dragEnterEvent(event);
}

void CMsgRichEdit2::dragMoveEvent(QDragMoveEvent* event)
{
    if (!answerDrag(event))
        QTextEdit::dragMoveEvent(event);
}

void CMsgRichEdit2::dropEvent(QDropEvent* event)
{
    const QStringList paths = LocalDropPaths(event->mimeData());
    if (!paths.isEmpty()) {
        event->acceptProposedAction();
        emit filesDropped(paths);
        return;
    }
    if (m_isHistory) {
        event->ignore();
        return;
    }
    QTextEdit::dropEvent(event);
}

bool CMsgRichEdit2::canInsertFromMimeData(const QMimeData* source) const
{
    if (!LocalDropPaths(source).isEmpty())
        return false;
    return QTextEdit::canInsertFromMimeData(source);
}

void CMsgRichEdit2::insertFromMimeData(const QMimeData* source)
{
    if (!LocalDropPaths(source).isEmpty())
        return;
    // Pictures and tables have no place in a chat message: rich text keeps
    // only its character formats.
    if (source->hasHtml()) {
        QTextDocument pasted;
        pasted.setHtml(source->html());
        const RichText text = RichTextBridge::fromDocument(pasted);
        QTextCursor cursor = textCursor();
        cursor.beginEditBlock();
        cursor.removeSelectedText();
        RichTextBridge::insert(cursor, text);
        cursor.endEditBlock();
        setTextCursor(cursor);
        return;
    }
    if (source->hasText()) {
        // Text from other systems may end its lines with CR LF or CR alone.
        QString text = source->text();
        text.replace(u"\r\n"_s, u"\n"_s).replace(u'\r', u'\n');
        QTextCursor cursor = textCursor();
        cursor.insertText(text, currentCharFormat());
        setTextCursor(cursor);
        return;
    }
    QTextEdit::insertFromMimeData(source);
}
