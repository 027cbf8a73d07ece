#pragma once

#include <QSize>
#include <QString>
#include <array>
#include <vector>

class QCheckBox;
class QLabel;
class QLineEdit;
class QMenu;
class QAction;
class QPlainTextEdit;
class QPushButton;
class QTabWidget;
class QTreeView;
class QWidget;

namespace catalog {
class CatalogModel;
}

namespace mainwindow {

// The controls of the main window, created under their layout names (objectName) and placed as the layout
// has them. Owns nothing: every widget is a child of the window. UI thread only.
struct MainWindowForm
{
    static constexpr int Width = 630;
    static constexpr int Height = 485;
    static constexpr int PageCount = 7;

    explicit MainWindowForm(QWidget *window);

    // Members are named for their role; each widget's objectName is its layout name, given here.
    QTabWidget *pages = nullptr; // 高级选择夹1
    std::array<QTreeView *, 6> lists{}; // 超级列表框1 ... 超级列表框6
    std::array<catalog::CatalogModel *, 6> models{};
    QLineEdit *nameField = nullptr; // 编辑框1
    QPlainTextEdit *feedbackMessage = nullptr; // 编辑框2
    QLineEdit *advertisement = nullptr; // 编辑框3
    QLineEdit *searchBox = nullptr; // 编辑框4
    QPlainTextEdit *notice = nullptr; // 编辑框5
    QPushButton *searchButton = nullptr; // 图形按钮11
    QPushButton *submitButton = nullptr; // 按钮1
    QCheckBox *rememberName = nullptr; // 选择框2
    QLabel *rememberNameCaption = nullptr; // 透明标签2
    QLabel *hotKeyReceiver = nullptr; // 标签1
    QLabel *board = nullptr; // 画板相片
    std::array<QLineEdit *, 5> versionFields{}; // 软件下载_编辑框 ... 常用软件_编辑框, category order
    std::array<QPushButton *, PageCount> tabButtons{};

    QMenu *itemMenu = nullptr; // "菜单"
    QMenu *otherMenu = nullptr; // "其他"
    QMenu *trayMenu = nullptr; // "托盘"
    QAction *playMusicAction = nullptr;

    static QString tabCaption(int index);

    // Places the controls for a window of `size`. At the layout's 630 x 485 every control stands where the
    // layout puts it; a larger window gives its extra width and height to the pages, the lists, the result list
    // and the feedback message, the list columns share the extra width, and the picture and the notice keep
    // their size. A smaller size is laid out as 630 x 485.
    void layOut(QSize size);

private:
    void shareColumns(std::size_t list, int extraWidth);
    std::array<std::vector<int>, 6> m_columnWidths{}; // each list's column widths at the layout's size

    void buildPages(QWidget *window);
    QWidget *buildHomePage();
    QWidget *buildCategoryPage(int number);
    QWidget *buildFeedbackPage();
    void buildHiddenFields(QWidget *window);
    void buildMenus(QWidget *window);
};

// Adds actions named after their captions with a separator between every two neighbours.
void addSeparatedActions(QMenu *menu, std::initializer_list<const char *> captions);

} // namespace mainwindow
