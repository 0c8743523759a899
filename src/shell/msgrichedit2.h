#pragma once

#include "messenger/chathistory.h"
#include "messenger/richtext.h"
#include "messenger/typingdetector.h"

#include <QByteArray>
#include <QColor>
#include <QDialog>
#include <QStringList>
#include <QTextCharFormat>
#include <QTextCursor>
#include <QTextEdit>

class QFontDialog;
class QMenu;
class QPushButton;

// The chat rich-text control: a history pane (read-only, links open with the
// desktop's handler, never reports typing) or a message input (1,000
// characters at most, Verdana 14 pt to start with, reports typing).
//
// A history pane shows a core ChatHistory: the history decides what the pane
// holds (line templates, the 10,000-character limit); the pane only draws it
// and keeps the scroll rule: a pane scrolled to the bottom follows new lines,
// one the reader scrolled up stays where it is.
class CMsgRichEdit2 : public QTextEdit
{
    Q_OBJECT
public:
    static constexpr int InputLimit = 1000;

    // Context menu commands.
    enum Command {
        CmdCopy = 150,
        CmdCopyAll = 151,
        CmdClearScreen = 152,
        CmdSelectAll = 153,
        CmdPaste = 154,
        CmdBold = 155,
        CmdItalic = 156,
        CmdUnderline = 157,
        CmdStrikeOut = 158,
        CmdColor = 159,
        CmdFont = 160,
        CmdDefaultFont = 161,
    };

    explicit CMsgRichEdit2(QWidget* parent = nullptr);

    // Read-only history pane: links open with the desktop's handler, no undo,
    // the suppress flag on.
    void InitHistory();
    // Message input: 1,000-character limit, DefaultFormat(), suppress flag off.
    void InitInput();
    // Verdana 14 pt black, no effects, on the whole text and for what is typed next.
    void DefaultFormat();
    // Empties the control (a history pane also empties the history it shows).
    void Clear();

    // The pane shows (and Clear Screen clears) this history from now on; null
    // goes back to the pane's own history.
    void attachHistory(ChatHistory* history);
    ChatHistory& history() { return *m_history; }
    // Shows a history: with the attached one, brings the pane up to date,
    // appending just what is new when nothing else changed; another history
    // is copied into the pane's own first.
    void showHistory(const ChatHistory& history);
    // Brings the pane up to date with its history.
    void refreshHistory();
    // Streams a document in at the end of the pane's history: an empty text
    // clears, at most 10,000 characters stay, the scroll rule holds.
    void StreamInAtEnd(const QByteArray& rtf);

    // Inputs: the document as RTF, ending "\par" CR LF "}" CR LF. History
    // panes: the history's document.
    QByteArray GetRtf() const;
    // Replaces an input's content with a document.
    void setRtf(const QByteArray& rtf);

    bool suppressed() const { return m_typing.suppressed(); }
    bool isHistoryPane() const { return m_isHistory; }
    // Characters as the limit counts them (a paragraph break counts one).
    int textLength() const;
    // Scroll position + page + 1 reaches the end of the range.
    bool isScrolledToBottom() const;

    // The context menu for the current selection; each action's data is its
    // command number.
    QMenu* createContextMenu(QWidget* parent = nullptr);
    void runCommand(int command);

signals:
    void typingChanged(int flag);
    void filesDropped(const QStringList& paths);
    void sendRequested();
    void functionKeyPressed(int key);
    // Clear Screen emptied the pane and its history.
    void cleared();

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    bool canInsertFromMimeData(const QMimeData* source) const override;
    void insertFromMimeData(const QMimeData* source) override;

private:
    void onContentsChange(int position, int removed, int added);
    void onTextChanged();
    void report(std::optional<int> flag);
    void render(const RichText& now, qint64 dropped);
    bool appendTo(const RichText& shown, const RichText& now, int dropFront);
    void scrollToEnd();
    // Answers a drag the input does not take as text; false leaves it to the text edit.
    bool answerDrag(QDropEvent* event);
    bool selectionHas(bool (*test)(const QTextCharFormat&)) const;
    void applyToSelection(const QTextCharFormat& format);
    void applyTo(QTextCursor cursor, const QTextCharFormat& format);
    void chooseColor();
    void chooseFont();

    ChatHistory m_own;
    ChatHistory* m_history = &m_own;
    RichText m_shown;
    qint64 m_shownDropped = 0; // the history's dropped count when m_shown was taken
    TypingDetector m_typing;
    bool m_isHistory = false;
    bool m_limited = false;
    bool m_trimming = false;
};

// The "Set Font" chooser: face, size, effects and colour, started from the
// selection's format.
class FontChooser : public QDialog
{
    Q_OBJECT
public:
    explicit FontChooser(const QTextCharFormat& current, QWidget* parent = nullptr);
    QTextCharFormat chosenFormat() const;
    void setChosenFont(const QFont& font);
    void setColor(const QColor& color);

private:
    void showColor();

    QFontDialog* m_fonts = nullptr;
    QPushButton* m_colorButton = nullptr;
    QColor m_color;
    QString m_face;
    QString m_shownFamily;
};

// Local paths of the files and folders a drag carries; empty when it carries
// anything else too.
QStringList LocalDropPaths(const QMimeData* data);
