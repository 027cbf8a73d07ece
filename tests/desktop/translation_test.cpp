#include "platform/qttranslation.h"

#include <QAction>
#include <QApplication>
#include <QDialogButtonBox>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QTranslator>
#include <gtest/gtest.h>
#include <memory>

TEST(QtTranslation, DialogsAndContextMenusSpeakChinese)
{
    QTranslator *translator = platform::installQtTranslation(*qApp);
    ASSERT_NE(translator, nullptr) << "Debian's qt6-translations-l10n is missing";
    QDialogButtonBox buttons(QDialogButtonBox::Open | QDialogButtonBox::Cancel);
    EXPECT_TRUE(buttons.button(QDialogButtonBox::Open)->text().contains(QStringLiteral("打开")));
    EXPECT_TRUE(buttons.button(QDialogButtonBox::Cancel)->text().contains(QStringLiteral("取消")));
    QLineEdit box;
    const std::unique_ptr<QMenu> menu(box.createStandardContextMenu());
    QStringList texts;
    for (const QAction *action : menu->actions())
        texts << action->text();
    EXPECT_TRUE(texts.join(QLatin1Char(',')).contains(QStringLiteral("粘贴")))
        << texts.join(QLatin1Char(',')).toStdString();
    QCoreApplication::removeTranslator(translator);
    delete translator;
}
