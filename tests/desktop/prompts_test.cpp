// The real message and input boxes, answered as a user answers them.
#include "common/Prompts.h"
#include "support/Widgets.h"

#include <QAbstractButton>
#include <QInputDialog>
#include <QMessageBox>
#include <QTest>
#include <gtest/gtest.h>

using namespace morvane;

TEST(QtPromptsTest, MessageIsAModalMorvaneBoxWithOneOkButton) {
    QString title, text;
    int buttons = -1;
    bool clicked = false;
    test::ModalAnswer answer;
    answer.next<QMessageBox>([&](QMessageBox& box) {
        title = box.windowTitle();
        text = box.text();
        buttons = static_cast<int>(box.buttons().size());
        if (QAbstractButton* ok = box.button(QMessageBox::Ok)) {
            QTest::mouseClick(ok, Qt::LeftButton);
            clicked = !box.isVisible();
        }
    });
    QtPrompts prompts;
    prompts.message(QStringLiteral("程序已运行"), MessageScope::Application);
    ASSERT_TRUE(answer.answered()) << "no message box came up";
    EXPECT_TRUE(clicked) << "its OK button closes it";
    EXPECT_EQ(title, QStringLiteral("Morvane"));
    EXPECT_EQ(text, QStringLiteral("程序已运行"));
    EXPECT_EQ(buttons, 1);
}

TEST(QtPromptsInput, TheRealInputBoxAsksAndAnswers) {
    QString title, label, initial;
    test::ModalAnswer answer;
    answer.next<QInputDialog>([&](QInputDialog& box) {
        title = box.windowTitle();
        label = box.labelText();
        initial = box.textValue();
        box.setTextValue(QStringLiteral("2.5"));
        box.accept();
    });
    QtPrompts prompts;
    EXPECT_EQ(prompts.input(QStringLiteral("请输入延时（单位秒）"), QStringLiteral("延时"),
                            QStringLiteral("5")),
              QStringLiteral("2.5"));
    ASSERT_TRUE(answer.answered()) << "no input box came up";
    EXPECT_EQ(title, QStringLiteral("延时"));
    EXPECT_EQ(label, QStringLiteral("请输入延时（单位秒）"));
    EXPECT_EQ(initial, QStringLiteral("5"));

    answer.next<QInputDialog>([](QInputDialog& box) { box.reject(); });
    EXPECT_EQ(prompts.input(QStringLiteral("p"), QStringLiteral("t"), QStringLiteral("5")),
              QString());
    EXPECT_TRUE(answer.answered());
}
