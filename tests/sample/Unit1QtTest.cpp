// The form unit on Qt's offscreen platform: the window and list as stored,
// the entries, toggling by mouse and space bar, and that nothing is kept.
#include "OtherFormText.h"
#include "Unit1.h"
#include "Unit1FormText.h"

#include <QApplication>
#include <QFile>
#include <QListWidget>
#include <QScrollBar>
#include <QStyle>
#include <QStyleOptionViewItem>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <cstdint>

namespace {

// Shuts Qt down while it is still whole, before static destruction.
class TQtShutdown : public testing::Environment {
public:
  void TearDown() override { Application.Finalize(); }
};
testing::Environment* const QtShutdown = testing::AddGlobalTestEnvironment(new TQtShutdown);

class Unit1Qt : public testing::Test {
protected:
  static void SetUpTestSuite() {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    Application.Initialize();
  }

  static QListWidget* ListOf(const TForm1& form) {
    return static_cast<QListWidget*>(form.CheckListBox1->Handle());
  }

  static void ShowAndWait(TForm& form) {
    form.Show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(form.Handle(), 10000));
  }

  // The centre of entry row's check box, in viewport coordinates, as Qt's
  // delegate places it.
  static QPoint CheckBoxCentre(QListWidget* list, int row) {
    QStyleOptionViewItem option;
    option.initFrom(list);
    option.rect = list->visualItemRect(list->item(row));
    option.features = QStyleOptionViewItem::HasCheckIndicator | QStyleOptionViewItem::HasDisplay;
    return list->style()->subElementRect(QStyle::SE_ItemViewItemCheckIndicator, &option, list).center();
  }

  static void ClickCheckBox(QListWidget* list, int row) {
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, CheckBoxCentre(list, row));
  }

  static std::vector<bool> States(const TForm1& form) {
    std::vector<bool> states;
    for (int i = 0; i < form.CheckListBox1->Count(); ++i) states.push_back(form.CheckListBox1->Checked(i));
    return states;
  }
};

TEST_F(Unit1Qt, WindowHasTheStoredTitlePlaceAndOuterSize) {
  TForm1 form;
  ShowAndWait(form);
  QWidget* window = form.Handle();
  EXPECT_TRUE(window->isWindow());
  EXPECT_EQ(window->windowTitle(), "Form1");
  EXPECT_EQ(window->frameGeometry(), QRect(192, 107, 870, 640));
  EXPECT_EQ(window->objectName(), "Form1");
}

TEST_F(Unit1Qt, WindowUsesTheStoredFontAndButtonFaceColour) {
  TForm1 form;
  QWidget* window = form.Handle();
  EXPECT_EQ(window->font().family(), "MS Sans Serif");
  EXPECT_EQ(window->font().pixelSize(), 11);
  EXPECT_FALSE(window->font().bold() || window->font().italic() || window->font().underline() ||
               window->font().strikeOut());
  EXPECT_TRUE(window->autoFillBackground());
  EXPECT_EQ(window->palette().color(QPalette::Window), window->palette().color(QPalette::Button));
}

TEST_F(Unit1Qt, CheckListIsTheOnlyChildAtTheStoredPlace) {
  TForm1 form;
  ShowAndWait(form);
  QListWidget* list = ListOf(form);
  ASSERT_NE(list, nullptr);
  EXPECT_EQ(form.CheckListBox1, &form.FindCheckListBox("CheckListBox1"));
  EXPECT_EQ(list->objectName(), "CheckListBox1");
  EXPECT_EQ(list->parentWidget(), form.Handle());
  EXPECT_EQ(list->geometry(), QRect(24, 24, 425, 473));
  EXPECT_EQ(form.Handle()->findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly).size(), 1);
  EXPECT_EQ(list->focusPolicy(), Qt::StrongFocus);
  EXPECT_EQ(list->font().pixelSize(), 11);  // the form's font
}

TEST_F(Unit1Qt, ListShowsSevenUncheckedEntriesWithoutScrolling) {
  TForm1 form;
  ShowAndWait(form);
  QListWidget* list = ListOf(form);
  ASSERT_EQ(form.CheckListBox1->Count(), 7);
  for (int i = 0; i < 7; ++i) {
    SCOPED_TRACE(i);
    QListWidgetItem* item = list->item(i);
    EXPECT_EQ(form.CheckListBox1->Item(i), std::to_string(i + 1));
    EXPECT_EQ(item->checkState(), Qt::Unchecked);
    EXPECT_TRUE(item->flags() & Qt::ItemIsUserCheckable);
    QRect rect = list->visualItemRect(item);
    EXPECT_EQ(rect.height(), 13);
    EXPECT_EQ(rect.top(), i * 13);
    EXPECT_TRUE(list->viewport()->rect().contains(rect));
  }
  EXPECT_EQ(list->verticalScrollBar()->maximum(), 0);
}

TEST_F(Unit1Qt, ListTakesTheFocusWhenShown) {
  TForm1 form;
  ShowAndWait(form);
  form.Handle()->activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(form.Handle(), 10000));
  EXPECT_EQ(QApplication::focusWidget(), ListOf(form));
}

TEST_F(Unit1Qt, MouseClickInTheCheckBoxTogglesOnlyThatEntry) {
  TForm1 form;
  ShowAndWait(form);
  QListWidget* list = ListOf(form);
  ClickCheckBox(list, 2);
  EXPECT_EQ(States(form), (std::vector<bool>{false, false, true, false, false, false, false}));
  ClickCheckBox(list, 6);
  ClickCheckBox(list, 2);
  EXPECT_EQ(States(form), (std::vector<bool>{false, false, false, false, false, false, true}));
}

TEST_F(Unit1Qt, ClickOnTheTextSelectsWithoutToggling) {
  TForm1 form;
  ShowAndWait(form);
  QListWidget* list = ListOf(form);
  QRect row = list->visualItemRect(list->item(3));
  QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, QPoint(row.left() + 100, row.center().y()));
  EXPECT_EQ(list->currentRow(), 3);
  EXPECT_EQ(States(form), std::vector<bool>(7, false));
}

TEST_F(Unit1Qt, SpaceBarTogglesTheCurrentEntry) {
  TForm1 form;
  ShowAndWait(form);
  QListWidget* list = ListOf(form);
  list->setCurrentRow(4);
  QTest::keyClick(list, Qt::Key_Space);
  EXPECT_TRUE(form.CheckListBox1->Checked(4));
  QTest::keyClick(list, Qt::Key_Space);
  EXPECT_FALSE(form.CheckListBox1->Checked(4));
  QTest::keyClick(list, Qt::Key_Down);
  QTest::keyClick(list, Qt::Key_Space);
  EXPECT_EQ(States(form), (std::vector<bool>{false, false, false, false, false, true, false}));
}

TEST_F(Unit1Qt, ANewFormStartsUncheckedAfterToggling) {
  {
    TForm1 form;
    ShowAndWait(form);
    for (int i = 0; i < 7; ++i) ClickCheckBox(ListOf(form), i);
    ASSERT_EQ(States(form), std::vector<bool>(7, true));
    form.Close();
  }
  TForm1 again;
  EXPECT_EQ(States(again), std::vector<bool>(7, false));
}

TEST_F(Unit1Qt, ClosingTheMainFormEndsTheLoopWithCodeZero) {
  TForm1 form;
  form.MakeMainForm();
  form.Show();
  QTimer::singleShot(0, [&] { form.Close(); });
  QTimer::singleShot(20000, [] { QApplication::exit(99); });  // bound: the test fails, not hangs
  EXPECT_EQ(QApplication::exec(), 0);
  EXPECT_FALSE(form.Handle()->isVisible());
}

TEST_F(Unit1Qt, ClosingAnotherFormKeepsTheLoopRunning) {
  TForm1 form;
  form.Show();
  QTimer::singleShot(0, [&] { form.Close(); });
  QTimer::singleShot(300, [] { QApplication::exit(7); });
  EXPECT_EQ(QApplication::exec(), 7);
}

TEST_F(Unit1Qt, CheckListRejectsEntriesItDoesNotHave) {
  TForm1 form;
  EXPECT_THROW(form.CheckListBox1->Checked(7), std::out_of_range);
  EXPECT_THROW(form.CheckListBox1->SetChecked(-1, true), std::out_of_range);
  EXPECT_THROW(form.FindCheckListBox("CheckListBox2"), EFormDescription);
}

// The window takes every value from the description it is built from.
TEST_F(Unit1Qt, FormFollowsADifferentDescription) {
  TForm other(ReadFormSpec(ParseFormDescription(OtherFormText)));
  ShowAndWait(other);
  QWidget* window = other.Handle();
  EXPECT_EQ(window->windowTitle(), "Zwei");
  EXPECT_EQ(window->frameGeometry(), QRect(50, 30, 400, 300));
  EXPECT_EQ(window->font().pixelSize(), 10);
  EXPECT_TRUE(window->font().bold());
  auto* first = static_cast<QListWidget*>(other.FindCheckListBox("First").Handle());
  EXPECT_EQ(first->geometry(), QRect(5, 10, 50, 30));
  EXPECT_EQ(first->visualItemRect(first->item(1)).height(), 20);
  EXPECT_EQ(other.FindCheckListBox("Second").Count(), 1);
  // Controls are made in tab order, whatever their order in the text.
  auto children = window->findChildren<QListWidget*>(QString(), Qt::FindDirectChildrenOnly);
  ASSERT_EQ(children.size(), 2);
  EXPECT_EQ(children[0], first);
}

TEST_F(Unit1Qt, ProgramCarriesTheDescriptionAndIcon) {
  EXPECT_EQ(LoadFormResource("TFORM1"), std::string(Unit1FormText));
  EXPECT_THROW(LoadFormResource("TFORM2"), std::runtime_error);

  QFile icon(":/MAINICON");
  ASSERT_TRUE(icon.open(QIODevice::ReadOnly));
  QByteArray bytes = icon.readAll();
  ASSERT_GE(bytes.size(), 6 + 16 + 40);
  auto u8 = [&](int at) { return static_cast<uint8_t>(bytes[at]); };
  auto u16 = [&](int at) { return u8(at) | u8(at + 1) << 8; };
  EXPECT_EQ(u16(2), 1);  // an icon
  EXPECT_EQ(u16(4), 1);  // one image
  EXPECT_EQ(u8(6), 32);
  EXPECT_EQ(u8(7), 32);
  EXPECT_EQ(u8(8), 16);      // colours
  EXPECT_EQ(u16(12), 4);     // bits per pixel
  EXPECT_EQ(u16(22 + 14), 4);  // bits per pixel in the bitmap header
  QIcon appIcon = QApplication::windowIcon();
  ASSERT_FALSE(appIcon.isNull());
  EXPECT_TRUE(appIcon.availableSizes().contains(QSize(32, 32)));
}

}  // namespace
