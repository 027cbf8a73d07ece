#include "mainwindow/mainwindowform.h"

#include "catalog/catalogmodel.h"
#include "catalog/ui/stateimageproxy.h"

#include <QAction>
#include <QCheckBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTabBar>
#include <QTabWidget>
#include <QTreeView>
#include <algorithm>

namespace mainwindow {

namespace {

// The advertisement line lies over the top edge of the pages; page contents start below it.
constexpr int AdvertHeight = 24;
constexpr int PageLeft = 7;
constexpr int PageTop = 120;
constexpr int PageWidth = 616;
constexpr int PageHeight = 340;

constexpr std::array<const char *, MainWindowForm::PageCount> TabCaptions{
    "首页", "软件下载", "源码下载", "模块下载", "电脑技术", "常用软件", "软件反馈"};
constexpr std::array<const char *, 5> VersionFieldNames{
    "软件下载_编辑框", "源码下载_编辑框", "模块下载_编辑框", "电脑技术_编辑框", "常用软件_编辑框"};

template <typename W> W *named(W *widget, const char *utf8Name)
{
    widget->setObjectName(QString::fromUtf8(utf8Name));
    return widget;
}

QTreeView *makeList(QWidget *parent, int number, catalog::CatalogModel *model)
{
    auto *view = named(new QTreeView(parent), QStringLiteral("超级列表框%1").arg(number).toUtf8().constData());
    view->setRootIsDecorated(false);
    view->setUniformRowHeights(true);
    view->setItemsExpandable(false);
    view->setAllColumnsShowFocus(true);
    view->setSelectionMode(QAbstractItemView::SingleSelection);
    view->setSelectionBehavior(QAbstractItemView::SelectRows);
    view->setEditTriggers(QAbstractItemView::NoEditTriggers);
    view->setContextMenuPolicy(Qt::PreventContextMenu);
    view->setModel(new catalog::StateImageProxy(view));
    static_cast<catalog::StateImageProxy *>(view->model())->setSourceModel(model);
    view->header()->setStretchLastSection(false);
    for (int column = 0; column < model->columnCount(); ++column)
        view->setColumnWidth(
            column, model->headerData(column, Qt::Horizontal, catalog::CatalogModel::ColumnWidthRole).toInt());
    return view;
}

} // namespace

void addSeparatedActions(QMenu *menu, std::initializer_list<const char *> captions)
{
    bool first = true;
    for (const char *caption : captions) {
        if (!first)
            menu->addSeparator();
        first = false;
        named(menu->addAction(QString::fromUtf8(caption)), caption);
    }
}

QString MainWindowForm::tabCaption(int index)
{
    return QString::fromUtf8(TabCaptions[static_cast<std::size_t>(index)]);
}

MainWindowForm::MainWindowForm(QWidget *window)
{
    window->resize(Width, Height);
    buildPages(window);
    advertisement = named(new QLineEdit(window), "编辑框3");
    advertisement->setReadOnly(true);
    buildHiddenFields(window);
    buildMenus(window);
    for (std::size_t i = 0; i < lists.size(); ++i) {
        for (int column = 0; column < models[i]->columnCount(); ++column)
            m_columnWidths[i].push_back(lists[i]->columnWidth(column));
    }
    layOut({Width, Height});
}

void MainWindowForm::layOut(QSize size)
{
    const int dw = std::max(0, size.width() - Width);
    const int dh = std::max(0, size.height() - Height);
    pages->setGeometry(PageLeft, PageTop, PageWidth + dw, PageHeight + dh);
    advertisement->setGeometry(PageLeft, PageTop, PageWidth + dw, AdvertHeight);
    // Home page: the picture and the notice on the left keep their size; the search row and the result list
    // take the rest.
    board->setGeometry(16, 39, 298, 213);
    notice->setGeometry(16, 255, 298, 80);
    searchBox->setGeometry(314, AdvertHeight + 2, 236 + dw, 26);
    searchButton->setGeometry(554 + dw, AdvertHeight + 2, 50, 26);
    lists[5]->setGeometry(314, AdvertHeight + 34, 289 + dw, 264 + dh);
    for (std::size_t i = 0; i < 5; ++i)
        lists[i]->setGeometry(0, AdvertHeight, PageWidth - 4 + dw, PageHeight - AdvertHeight - 4 + dh);
    for (std::size_t i = 0; i < lists.size(); ++i)
        shareColumns(i, dw);
    // Feedback page: the name row stays, its button keeps to the right edge, the message takes the room.
    nameField->setGeometry(13, 45, 260, 24);
    rememberName->setGeometry(292, 50, 16, 13);
    rememberNameCaption->setGeometry(311, 44, 72, 24);
    submitButton->setGeometry(401 + dw, 43, 203, 26);
    feedbackMessage->setGeometry(12, 78, 593 + dw, 250 + dh);
}

void MainWindowForm::shareColumns(std::size_t list, int extraWidth)
{
    // Each column gets a part of the extra width in proportion to its width in the layout.
    const std::vector<int> &widths = m_columnWidths[list];
    int total = 0;
    for (const int width : widths)
        total += width;
    if (total <= 0)
        return;
    int given = 0;
    for (std::size_t column = 0; column < widths.size(); ++column) {
        const int share = column + 1 == widths.size() ? extraWidth - given : extraWidth * widths[column] / total;
        given += share;
        lists[list]->setColumnWidth(static_cast<int>(column), widths[column] + share);
    }
}

void MainWindowForm::buildPages(QWidget *window)
{
    pages = named(new QTabWidget(window), "高级选择夹1");
    pages->tabBar()->hide();
    pages->addTab(buildHomePage(), tabCaption(0));
    for (int number = 1; number <= 5; ++number)
        pages->addTab(buildCategoryPage(number), tabCaption(number));
    pages->addTab(buildFeedbackPage(), tabCaption(6));
}

QWidget *MainWindowForm::buildHomePage()
{
    auto *page = new QWidget;
    board = named(new QLabel(page), "画板相片");
    board->setScaledContents(true);
    notice = named(new QPlainTextEdit(QStringLiteral("公告："), page), "编辑框5");
    notice->setReadOnly(true);
    searchBox = named(new QLineEdit(QStringLiteral("请输入要查找的名称"), page), "编辑框4");
    searchButton = named(new QPushButton(QStringLiteral("搜索"), page), "图形按钮11");
    models[5] = new catalog::CatalogModel(catalog::CatalogModel::Layout::Search, page);
    lists[5] = makeList(page, 6, models[5]);
    return page;
}

QWidget *MainWindowForm::buildCategoryPage(int number)
{
    auto *page = new QWidget;
    const auto index = static_cast<std::size_t>(number - 1);
    models[index] = new catalog::CatalogModel(catalog::CatalogModel::Layout::Category, page);
    lists[index] = makeList(page, number, models[index]);
    return page;
}

QWidget *MainWindowForm::buildFeedbackPage()
{
    auto *page = new QWidget;
    nameField = named(new QLineEdit(QStringLiteral("网友"), page), "编辑框1");
    nameField->setPlaceholderText(QStringLiteral("你的名称"));
    rememberName = named(new QCheckBox(page), "选择框2");
    rememberNameCaption = named(new QLabel(QStringLiteral("记住我的名称"), page), "透明标签2");
    submitButton = named(new QPushButton(QStringLiteral("提交反馈信息"), page), "按钮1");
    feedbackMessage = named(new QPlainTextEdit(page), "编辑框2");
    feedbackMessage->setPlaceholderText(QStringLiteral("请写下你的意见或建议（至少10个字节）"));
    return page;
}

void MainWindowForm::buildHiddenFields(QWidget *window)
{
    hotKeyReceiver = named(new QLabel(window), "标签1");
    hotKeyReceiver->hide();
    for (std::size_t i = 0; i < VersionFieldNames.size(); ++i) {
        versionFields[i] = named(new QLineEdit(QStringLiteral("1.0"), window), VersionFieldNames[i]);
        versionFields[i]->hide();
    }
}

void MainWindowForm::buildMenus(QWidget *window)
{
    itemMenu = named(new QMenu(QStringLiteral("菜单"), window), "菜单");
    QMenu *ways = named(itemMenu->addMenu(QStringLiteral("下载方式")), "下载方式");
    addSeparatedActions(ways, {"本地下载", "迅雷下载", "快车下载", "旋风下载"});
    itemMenu->addSeparator();
    addSeparatedActions(itemMenu, {"刷新一下", "立即下载", "复制地址", "网页下载"});

    otherMenu = named(new QMenu(QStringLiteral("其他"), window), "其他");
    addSeparatedActions(otherMenu, {"更换图片", "播放音乐", "更换皮肤"});
    playMusicAction = otherMenu->findChild<QAction *>(QStringLiteral("播放音乐"));
    playMusicAction->setCheckable(true);

    trayMenu = named(new QMenu(QStringLiteral("托盘"), window), "托盘");
    addSeparatedActions(trayMenu, {"打开KAVO软件首页", "意见反馈", "下载列表", "官方网站", "最小化", "退出"});
}

} // namespace mainwindow
