// The typed form values: Marrowby's stored description holds exactly the
// window's values, and the checks on names, kinds and ranges; scaling to the
// toolkit's density.
#include "FormScaling.h"
#include "FormSchema.h"
#include "Unit1FormText.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TFormSpec Read(const std::string& text) { return ReadFormSpec(ParseFormDescription(text)); }

std::string FaultOf(const std::string& text) {
  try {
    Read(text);
  } catch (const EFormDescription& e) {
    return e.what();
  }
  return "";
}

TEST(Unit1Form, DescribesTheWindow) {
  TFormSpec f = Read(Unit1FormText);
  EXPECT_EQ(f.Name, "Form1");
  EXPECT_EQ(f.ClassName, "TForm1");
  EXPECT_EQ(f.Bounds, (TBounds{192, 107, 870, 640}));
  EXPECT_EQ(f.Caption, "Form1");
  EXPECT_EQ(f.Color, clBtnFace);
  EXPECT_EQ(f.Font.Charset, fcDefault);
  EXPECT_EQ(f.Font.Color, clWindowText);
  EXPECT_EQ(f.Font.Height, -11);
  EXPECT_EQ(f.Font.Name, "MS Sans Serif");
  EXPECT_EQ(f.Font.Style, 0u);
  EXPECT_FALSE(f.OldCreateOrder);
  EXPECT_EQ(f.PixelsPerInch, 96);
  EXPECT_EQ(f.TextHeight, 13);
}

TEST(Unit1Form, DescribesTheCheckListAsTheOnlyChild) {
  TFormSpec f = Read(Unit1FormText);
  ASSERT_EQ(f.CheckLists.size(), 1u);
  const TCheckListSpec& list = f.CheckLists[0];
  EXPECT_EQ(list.Name, "CheckListBox1");
  EXPECT_EQ(list.Bounds, (TBounds{24, 24, 425, 473}));
  EXPECT_EQ(list.ItemHeight, 13);
  EXPECT_EQ(list.Items, (std::vector<std::string>{"1", "2", "3", "4", "5", "6", "7"}));
  EXPECT_EQ(list.TabOrder, 0);
  // All seven entries fit without scrolling.
  EXPECT_LE(list.ItemHeight * static_cast<int>(list.Items.size()), list.Bounds.Height);
}

// The window's values come from the description: without it the toolkit's
// defaults apply, and they differ.
TEST(FormSpec, LeavesOutPropertiesAtTheToolkitDefaults) {
  TFormSpec f = Read("[Other: TOther]\n[List: TCheckListBox]\n");
  TFormSpec unit1 = Read(Unit1FormText);
  EXPECT_EQ(f.ClassName, "TOther");
  EXPECT_NE(f.Bounds, unit1.Bounds);
  EXPECT_NE(f.Caption, unit1.Caption);
  EXPECT_NE(f.Font.Name, unit1.Font.Name);
  EXPECT_NE(f.Font.Height, unit1.Font.Height);
  EXPECT_NE(f.TextHeight, unit1.TextHeight);
  ASSERT_EQ(f.CheckLists.size(), 1u);
  EXPECT_NE(f.CheckLists[0].Bounds, unit1.CheckLists[0].Bounds);
  EXPECT_NE(f.CheckLists[0].ItemHeight, unit1.CheckLists[0].ItemHeight);
  EXPECT_TRUE(f.CheckLists[0].Items.empty());
  EXPECT_EQ(f.CheckLists[0].TabOrder, -1);
}

TEST(FormSpec, ReadsStylesColoursAndCharsets) {
  TFormSpec f = Read(
      "[F: TF]\nFont.Style = [fsBold, fsStrikeOut]\nColor = clWindow\nFont.Color = clBtnText\n"
      "Font.Charset = OEM_CHARSET\nOldCreateOrder = true\n");
  EXPECT_EQ(f.Font.Style, unsigned(fsBold | fsStrikeOut));
  EXPECT_EQ(f.Color, clWindow);
  EXPECT_EQ(f.Font.Color, clBtnText);
  EXPECT_EQ(f.Font.Charset, fcOem);
  EXPECT_TRUE(f.OldCreateOrder);
}

TEST(FormSpec, RejectsUnknownNamesAndClasses) {
  EXPECT_EQ(FaultOf("[F: TF]\nLeftt = 1\n"), "line 2: \"TF\" has no property \"Leftt\"");
  EXPECT_EQ(FaultOf("[F: TF]\n[L: TCheckListBox]\nCaption = \"x\"\n"),
            "line 3: \"TCheckListBox\" has no property \"Caption\"");
  EXPECT_EQ(FaultOf("[F: TF]\n[B: TButton]\n"), "line 2: the control class \"TButton\" is unknown");
  EXPECT_EQ(FaultOf("[F: TF]\nColor = clPink\n"), "line 2: property \"Color\" does not know the value \"clPink\"");
  EXPECT_EQ(FaultOf("[F: TF]\nFont.Style = [fsWide]\n"),
            "line 2: property \"Font.Style\" does not know the style \"fsWide\"");
  EXPECT_EQ(FaultOf("[F: TF]\nOldCreateOrder = no\n"),
            "line 2: property \"OldCreateOrder\" does not know the value \"no\"");
}

TEST(FormSpec, RejectsValuesOfTheWrongKind) {
  EXPECT_EQ(FaultOf("[F: TF]\nLeft = \"1\"\n"), "line 2: property \"Left\" needs a whole number");
  EXPECT_EQ(FaultOf("[F: TF]\nCaption = Form1\n"), "line 2: property \"Caption\" needs a quoted string");
  EXPECT_EQ(FaultOf("[F: TF]\nCaption = \"a\", \"b\"\n"), "line 2: property \"Caption\" needs exactly one string");
  EXPECT_EQ(FaultOf("[F: TF]\nFont.Style = fsBold\n"), "line 2: property \"Font.Style\" needs a set such as [fsBold]");
  EXPECT_EQ(FaultOf("[F: TF]\nColor = 3\n"), "line 2: property \"Color\" needs a name");
  EXPECT_EQ(FaultOf("[F: TF]\n[L: TCheckListBox]\nItems.Strings = [a]\n"),
            "line 3: property \"Items.Strings\" needs a list of quoted strings");
}

TEST(FormSpec, RejectsValuesOutOfRange) {
  EXPECT_EQ(FaultOf("[F: TF]\nWidth = -1\n"), "line 2: property \"Width\" must lie between 0 and 32767");
  EXPECT_EQ(FaultOf("[F: TF]\nLeft = 40000\n"), "line 2: property \"Left\" must lie between -32767 and 32767");
  EXPECT_EQ(FaultOf("[F: TF]\nPixelsPerInch = 0\n"), "line 2: property \"PixelsPerInch\" must lie between 24 and 960");
  EXPECT_EQ(FaultOf("[F: TF]\n[L: TCheckListBox]\nItemHeight = 0\n"),
            "line 3: property \"ItemHeight\" must lie between 1 and 255");
  EXPECT_EQ(FaultOf("[F: TF]\n[L: TCheckListBox]\nItemHeight = 256\n"),
            "line 3: property \"ItemHeight\" must lie between 1 and 255");
  EXPECT_EQ(FaultOf("[F: TF]\nWidth = 32767\nLeft = -32767\n"), "");
}

TEST(FormScaling, RoundsHalvesAwayFromZero) {
  EXPECT_EQ(ScaleValue(10, 96, 120), 8);
  EXPECT_EQ(ScaleValue(5, 1, 2), 3);
  EXPECT_EQ(ScaleValue(-5, 1, 2), -3);
  EXPECT_EQ(ScaleValue(-11, 96, 96), -11);
  EXPECT_EQ(ScaleValue(32767, 960, 24), 32767 * 40);
}

TEST(FormScaling, KeepsAFormStoredAtTheToolkitDensity) {
  TFormSpec unit1 = Read(Unit1FormText);
  TFormSpec scaled = ScaleForm(unit1, ToolkitPixelsPerInch);
  EXPECT_EQ(scaled.Bounds, unit1.Bounds);
  EXPECT_EQ(scaled.Font.Height, -11);
  EXPECT_EQ(scaled.CheckLists[0].Bounds, unit1.CheckLists[0].Bounds);
  EXPECT_EQ(scaled.CheckLists[0].ItemHeight, 13);
}

TEST(FormScaling, ConvertsAFormStoredAtAnotherDensity) {
  TFormSpec f = Read(
      "[F: TF]\nPixelsPerInch = 120\nLeft = 240\nTop = -30\nWidth = 1000\nHeight = 800\n"
      "Font.Height = -14\nTextHeight = 16\n"
      "[L: TCheckListBox]\nLeft = 30\nTop = 31\nWidth = 500\nHeight = 100\nItemHeight = 16\n");
  TFormSpec s = ScaleForm(f, 96);
  EXPECT_EQ(s.PixelsPerInch, 96);
  EXPECT_EQ(s.Bounds, (TBounds{192, -24, 800, 640}));
  EXPECT_EQ(s.Font.Height, -11);  // -11.2
  EXPECT_EQ(s.TextHeight, 13);    // 12.8
  EXPECT_EQ(s.CheckLists[0].Bounds, (TBounds{24, 25, 400, 80}));
  EXPECT_EQ(s.CheckLists[0].ItemHeight, 13);
}

TEST(FormScaling, KeepsItemHeightsDrawable) {
  TFormSpec tiny = Read("[F: TF]\nPixelsPerInch = 960\n[L: TCheckListBox]\nItemHeight = 1\n");
  EXPECT_EQ(ScaleForm(tiny, 96).CheckLists[0].ItemHeight, 1);
  TFormSpec huge = Read("[F: TF]\nPixelsPerInch = 24\n[L: TCheckListBox]\nItemHeight = 255\n");
  EXPECT_EQ(ScaleForm(huge, 96).CheckLists[0].ItemHeight, 255);
}

}  // namespace
