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
    advertisement->setGeometry(PageLeft, PageTop, PageWidth, AdvertHeight);
    advertisement->setReadOnly(true);
    buildHiddenFields(window);
    buildMenus(window);
}

void MainWindowForm::buildPages(QWidget *window)
{
    pages = named(new QTabWidget(window), "高级选择夹1");
    pages->setGeometry(PageLeft, PageTop, PageWidth, PageHeight);
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
    board->setGeometry(16, 39, 298, 213);
    board->setScaledContents(true);
    notice = named(new QPlainTextEdit(QStringLiteral("公告："), page), "编辑框5");
    notice->setGeometry(16, 255, 298, 80);
    notice->setReadOnly(true);
    searchBox = named(new QLineEdit(QStringLiteral("请输入要查找的名称"), page), "编辑框4");
    searchBox->setGeometry(314, AdvertHeight + 2, 236, 26);
    searchButton = named(new QPushButton(QStringLiteral("搜索"), page), "图形按钮11");
    searchButton->setGeometry(554, AdvertHeight + 2, 50, 26);
    models[5] = new catalog::CatalogModel(catalog::CatalogModel::Layout::Search, page);
    lists[5] = makeList(page, 6, models[5]);
    lists[5]->setGeometry(314, AdvertHeight + 34, 289, 264);
    return page;
}

QWidget *MainWindowForm::buildCategoryPage(int number)
{
    auto *page = new QWidget;
    const auto index = static_cast<std::size_t>(number - 1);
    models[index] = new catalog::CatalogModel(catalog::CatalogModel::Layout::Category, page);
    lists[index] = makeList(page, number, models[index]);
    lists[index]->setGeometry(0, AdvertHeight, PageWidth - 4, PageHeight - AdvertHeight - 4);
    return page;
}

QWidget *MainWindowForm::buildFeedbackPage()
{
    auto *page = new QWidget;
    nameField = named(new QLineEdit(QStringLiteral("网友"), page), "编辑框1");
    nameField->setGeometry(13, 45, 260, 24);
    nameField->setPlaceholderText(QStringLiteral("你的名称"));
    rememberName = named(new QCheckBox(page), "选择框2");
    rememberName->setGeometry(292, 50, 16, 13);
    rememberNameCaption = named(new QLabel(QStringLiteral("记住我的名称"), page), "透明标签2");
    rememberNameCaption->setGeometry(311, 44, 72, 24);
    submitButton = named(new QPushButton(QStringLiteral("提交反馈信息"), page), "按钮1");
    submitButton->setGeometry(401, 43, 203, 26);
    feedbackMessage = named(new QPlainTextEdit(page), "编辑框2");
    feedbackMessage->setGeometry(12, 78, 593, 250);
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
    addSeparatedActions(trayMenu, {"打开KAVO软件首页", "意见反馈", "官方网站", "最小化", "退出"});
}

} // namespace mainwindow
