#include "shell/browsedlg.h"

#include "shell/fileicons.h"
#include "shell/icons.h"
#include "shell/listctrlex.h"
#include "shell/tabchilddlg.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QFile>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QVBoxLayout>
#include <algorithm>

namespace {

// The arrows are the symbol font's "3" and "4"; where that font is missing
// the same glyphs are drawn as plain arrows.
QPushButton* arrowButton(const QString& symbol, const QString& fallback, QWidget* parent)
{
    QFont font(QStringLiteral("Webdings"));
    font.setPointSizeF(17.5);
    auto* b = new QPushButton(parent);
    if (QFontInfo(font).family().compare(font.family(), Qt::CaseInsensitive) == 0) {
        b->setFont(font);
        b->setText(symbol);
    } else {
        b->setText(fallback);
    }
    b->setFixedWidth(36);
    return b;
}

} // namespace

CBrowseDlg::CBrowseDlg(RemoteBrowser& browser, std::function<void()> closeHandler, QWidget* parent)
    : QWidget(parent, Qt::Window), m_browser(browser), m_closeHandler(std::move(closeHandler))
{
    setAttribute(Qt::WA_DeleteOnClose, false);
    setWindowTitle(browser.caption());
    setWindowIcon(Icons::programIcon());
    setMinimumSize(MinWidth, MinHeight);
    resize(520, 360);

    m_status = new QLabel(browser.statusText(), this);
    m_status->setFrameShape(QFrame::StyledPanel);
    m_status->setFrameShadow(QFrame::Sunken);

    m_list = new CListCtrlEx(this);
    m_list->setHeaderLabels({QStringLiteral("File / Folder Name"), QStringLiteral("Size"),
                             QStringLiteral("Modify Date")});
    m_list->setColumnWidth(0, 220);
    m_list->setColumnWidth(1, 90);
    // The date column is 160 wide unless the font needs more for a date.
    const int dateWidth =
        m_list->fontMetrics().horizontalAdvance(QStringLiteral("Wed 12/28/26 12:59:59 PM")) + 20;
    m_list->setColumnWidth(2, std::max(160, dateWidth));
    m_list->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_list->setSelectionMode(QAbstractItemView::SingleSelection);
    m_list->setRootIsDecorated(false);
    m_list->setIconSize(QSize(16, 16));
    m_list->setContextMenuPolicy(Qt::CustomContextMenu);
    // The first column takes the width gained or lost.
    m_list->header()->setStretchLastSection(false);
    m_list->header()->setSectionResizeMode(0, QHeaderView::Stretch);

    m_searchText = new QLineEdit(this);
    m_searchText->setMaxLength(SearchTextLimit);
    m_back = arrowButton(QStringLiteral("3"), QStringLiteral("\u25C0"), this);
    m_forward = arrowButton(QStringLiteral("4"), QStringLiteral("\u25B6"), this);
    m_stop = new QPushButton(QStringLiteral("&Stop"), this);
    m_refresh = new QPushButton(QStringLiteral("&Refresh"), this);
    m_home = new QPushButton(QStringLiteral("&Home"), this);
    m_search = new QPushButton(QStringLiteral("&Search"), this);
    m_fullPaths = new QCheckBox(QStringLiteral("&View Full Paths"), this);
    m_subDirs = new QCheckBox(QStringLiteral("&S&earch Sub Directories"), this);
    m_exact = new QCheckBox(QStringLiteral("&Match Search Exactly"), this);
    for (QPushButton* b : {m_back, m_forward, m_stop, m_refresh, m_home, m_search})
        b->setAutoDefault(false);

    auto* buttons = new QHBoxLayout;
    buttons->addWidget(m_back);
    buttons->addWidget(m_forward);
    buttons->addWidget(m_stop);
    buttons->addWidget(m_refresh);
    buttons->addWidget(m_home);
    buttons->addStretch();
    auto* search = new QHBoxLayout;
    search->addWidget(m_searchText, 1);
    search->addWidget(m_search);
    auto* checks = new QHBoxLayout;
    checks->addWidget(m_fullPaths);
    checks->addWidget(m_subDirs);
    checks->addWidget(m_exact);
    checks->addStretch();
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(6, 6, 6, 6);
    layout->setSpacing(4);
    layout->addLayout(buttons);
    layout->addLayout(search);
    layout->addLayout(checks);
    layout->addWidget(m_list, 1);
    layout->addWidget(m_status);

    connect(m_back, &QPushButton::clicked, this, [this] { m_browser.back(); });
    connect(m_forward, &QPushButton::clicked, this, [this] { m_browser.forward(); });
    connect(m_stop, &QPushButton::clicked, this, [this] { m_browser.stop(); });
    connect(m_refresh, &QPushButton::clicked, this, [this] { m_browser.refresh(); });
    connect(m_home, &QPushButton::clicked, this, [this] { m_browser.home(); });
    connect(m_search, &QPushButton::clicked, this,
            [this] { m_browser.search(m_searchText->text()); });
    connect(m_fullPaths, &QCheckBox::toggled, this,
            [this](bool on) { m_browser.setViewFullPaths(on); });
    connect(m_subDirs, &QCheckBox::toggled, this,
            [this](bool on) { m_browser.setSearchSubDirs(on); });
    connect(m_exact, &QCheckBox::toggled, this, [this](bool on) { m_browser.setMatchExactly(on); });
    connect(m_list, &QTreeWidget::itemDoubleClicked, this,
            [this](QTreeWidgetItem* item, int) { activateRow(m_list->indexOfTopLevelItem(item)); });
    connect(m_list, &QTreeWidget::currentItemChanged, this, [this](QTreeWidgetItem* item) {
        m_browser.setSelectedRow(item ? m_list->indexOfTopLevelItem(item) : -1);
    });
    connect(m_list, &QWidget::customContextMenuRequested, this, &CBrowseDlg::rowMenu);

    m_browser.setView(this);
    rowsReset();
    stateChanged();
}

CBrowseDlg::~CBrowseDlg()
{
    if (m_attached)
        m_browser.setView(nullptr);
}

QStringList CBrowseDlg::menuItems(const ShareEntry& entry)
{
    if (entry.folder)
        return {QStringLiteral("Open this Folder"), QStringLiteral("Download this Folder")};
    return {QStringLiteral("Download this File")};
}

void CBrowseDlg::activateRow(int row)
{
    const QList<ShareEntry>& rows = m_browser.rows();
    if (row < 0 || row >= rows.size())
        return;
    if (rows[row].folder)
        m_browser.openFolder(row);
    else
        m_browser.download(row);
}

void CBrowseDlg::detach()
{
    m_closeHandler = nullptr;
    if (m_attached)
        m_browser.setView(nullptr);
    m_attached = false;
    setEnabled(false);
}

void CBrowseDlg::rowMenu(const QPoint& pos)
{
    QTreeWidgetItem* item = m_list->itemAt(pos);
    const int row = item ? m_list->indexOfTopLevelItem(item) : -1;
    if (row < 0 || row >= m_browser.rows().size())
        return;
    const ShareEntry entry = m_browser.rows()[row];
    QMenu menu(this);
    const QStringList items = menuItems(entry);
    QAction* first = menu.addAction(items.first());
    menu.setDefaultAction(first);
    QAction* second = items.size() > 1 ? menu.addAction(items[1]) : nullptr;
    QAction* chosen = menu.exec(m_list->viewport()->mapToGlobal(pos));
    if (!chosen)
        return;
    if (chosen == first && entry.folder)
        m_browser.openFolder(row);
    else if (chosen == first || chosen == second)
        m_browser.download(row);
}

void CBrowseDlg::showRow(QTreeWidgetItem* item, const ShareEntry& entry)
{
    item->setText(0, RemoteBrowser::nameText(entry, m_browser.viewFullPaths()));
    item->setText(1, RemoteBrowser::sizeText(entry));
    item->setText(2, RemoteBrowser::dateText(entry));
}

void CBrowseDlg::appendRow(int row)
{
    const ShareEntry& entry = m_browser.rows()[row];
    auto* item = new QTreeWidgetItem;
    showRow(item, entry);
    item->setIcon(0, FileTypeIcon(RemoteBrowser::nameText(entry, false), entry.folder));
    m_list->addTopLevelItem(item);
}

void CBrowseDlg::rowsReset()
{
    m_list->clear();
    for (int i = 0; i < m_browser.rows().size(); ++i)
        appendRow(i);
    const int selected = m_browser.selectedRow();
    if (selected >= 0 && selected < m_list->topLevelItemCount())
        m_list->setCurrentItem(m_list->topLevelItem(selected));
    m_searchText->setText(m_browser.searchText());
    syncChecks();
}

void CBrowseDlg::rowsAppended(int first)
{
    for (int i = first; i < m_browser.rows().size(); ++i)
        appendRow(i);
}

void CBrowseDlg::statusChanged(const QString& text)
{
    m_status->setText(text);
}

void CBrowseDlg::syncChecks()
{
    const QSignalBlocker a(m_fullPaths), b(m_subDirs), c(m_exact);
    m_fullPaths->setChecked(m_browser.viewFullPaths());
    m_subDirs->setChecked(m_browser.searchSubDirs());
    m_exact->setChecked(m_browser.matchExactly());
}

void CBrowseDlg::stateChanged()
{
    const bool busy = m_browser.isBusy();
    m_list->setUpdatesEnabled(!busy);
    m_list->setEnabled(!busy);
    m_stop->setEnabled(busy);
    for (QWidget* w : std::initializer_list<QWidget*>{m_refresh, m_home, m_search, m_fullPaths,
                                                      m_subDirs, m_exact})
        w->setEnabled(!busy);
    m_back->setEnabled(m_browser.canGoBack());
    m_forward->setEnabled(m_browser.canGoForward());
    m_status->setText(m_browser.statusText());
}

void CBrowseDlg::closeEvent(QCloseEvent* event)
{
    // The session ends and takes the window with it.
    event->ignore();
    hide();
    if (auto handler = std::move(m_closeHandler))
        handler();
}

void CBrowseDlg::keyPressEvent(QKeyEvent* event)
{
    // Enter and Escape do nothing here.
    if (!SwallowEnterEscape(event))
        QWidget::keyPressEvent(event);
}
