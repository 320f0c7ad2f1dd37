// The reader of stored form descriptions: shapes it accepts and the faults it
// reports with their line.
#include "FormDescription.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TFormDescription Parse(const std::string& text) { return ParseFormDescription(text); }

// The message of the fault that text causes, or "" when it parses.
std::string FaultOf(const std::string& text) {
  try {
    ParseFormDescription(text);
  } catch (const EFormDescription& e) {
    return e.what();
  }
  return "";
}

const TPropertyDescription& PropertyOf(const TComponentDescription& c, const std::string& name) {
  for (const auto& p : c.Properties)
    if (p.Name == name) return p;
  throw std::runtime_error("no property " + name);
}

TEST(FormDescription, ReadsSectionsPropertiesAndLines) {
  TFormDescription d = Parse(
      "; comment\n"
      "\n"
      "[Main: TMain]\n"
      "  Left = 12  \n"
      "# another comment\n"
      "[List: TCheckListBox]\n"
      "Top=-3\n");
  EXPECT_EQ(d.Form.Name, "Main");
  EXPECT_EQ(d.Form.ClassName, "TMain");
  EXPECT_EQ(d.Form.Line, 3);
  ASSERT_EQ(d.Form.Properties.size(), 1u);
  EXPECT_EQ(d.Form.Properties[0].Name, "Left");
  EXPECT_EQ(d.Form.Properties[0].Value.Integer, 12);
  EXPECT_EQ(d.Form.Properties[0].Line, 4);
  ASSERT_EQ(d.Children.size(), 1u);
  EXPECT_EQ(d.Children[0].Name, "List");
  EXPECT_EQ(d.Children[0].ClassName, "TCheckListBox");
  EXPECT_EQ(PropertyOf(d.Children[0], "Top").Value.Integer, -3);
}

TEST(FormDescription, ReadsEveryKindOfValue) {
  TFormDescription d = Parse(
      "[F: TF]\n"
      "Number = +2147483647\n"
      "Lowest = -2147483648\n"
      "Name = clBtnFace\n"
      "Text = \"say \"\"hi\"\", =;[]\"\n"
      "Empty = \"\"\n"
      "List = \"1\" , \"2\",\"3\"\n"
      "NoSet = [ ]\n"
      "Set = [fsBold, fsItalic]\n"
      "Font.Height = -11\n");
  const auto& f = d.Form;
  EXPECT_EQ(PropertyOf(f, "Number").Value.Integer, 2147483647);
  EXPECT_EQ(PropertyOf(f, "Lowest").Value.Integer, -2147483648LL);
  EXPECT_EQ(PropertyOf(f, "Name").Value.Kind, vkIdent);
  EXPECT_EQ(PropertyOf(f, "Name").Value.Ident, "clBtnFace");
  EXPECT_EQ(PropertyOf(f, "Text").Value.Items, std::vector<std::string>{"say \"hi\", =;[]"});
  EXPECT_EQ(PropertyOf(f, "Empty").Value.Items, std::vector<std::string>{""});
  EXPECT_EQ(PropertyOf(f, "List").Value.Items, (std::vector<std::string>{"1", "2", "3"}));
  EXPECT_EQ(PropertyOf(f, "NoSet").Value.Kind, vkSet);
  EXPECT_TRUE(PropertyOf(f, "NoSet").Value.Items.empty());
  EXPECT_EQ(PropertyOf(f, "Set").Value.Items, (std::vector<std::string>{"fsBold", "fsItalic"}));
  EXPECT_EQ(PropertyOf(f, "Font.Height").Value.Integer, -11);
}

TEST(FormDescription, AcceptsWindowsLineEndsAndUtf8) {
  TFormDescription d = Parse("[F: TF]\r\nCaption = \"Gr\xC3\xBC\xC3\x9F""e\"\r\nLeft = 5\r\n");
  EXPECT_EQ(PropertyOf(d.Form, "Caption").Value.Items[0], "Gr\xC3\xBC\xC3\x9F""e");
  EXPECT_EQ(PropertyOf(d.Form, "Left").Value.Integer, 5);
}

TEST(FormDescription, ReportsFaultsWithTheirLine) {
  EXPECT_EQ(FaultOf(""), "the description holds no form section");
  EXPECT_EQ(FaultOf("; only a comment\n"), "the description holds no form section");
  EXPECT_EQ(FaultOf("Left = 1\n[F: TF]\n"), "line 1: a property comes before the first section");
  EXPECT_EQ(FaultOf("[F: TF]\n\nLeft 1\n"), "line 3: '=' is expected");
  EXPECT_EQ(FaultOf("[F TF]\n"), "line 1: ':' is expected");
  EXPECT_EQ(FaultOf("[F: TF\n"), "line 1: ']' is expected");
  EXPECT_EQ(FaultOf("[F: TF] x\n"), "line 1: unexpected text after the section header");
  EXPECT_EQ(FaultOf("[F: TF]\nCaption = \"open\n"), "line 2: the string has no closing quote");
  EXPECT_EQ(FaultOf("[F: TF]\nLeft = 1 2\n"), "line 2: unexpected text after the value");
  EXPECT_EQ(FaultOf("[F: TF]\nLeft =\n"), "line 2: a value is missing");
  EXPECT_EQ(FaultOf("[F: TF]\nLeft = -\n"), "line 2: digits are expected");
  EXPECT_EQ(FaultOf("[F: TF]\nLeft = 2147483648\n"), "line 2: the number is out of range");
  EXPECT_EQ(FaultOf("[F: TF]\nLeft = -99999999999999999999\n"), "line 2: the number is out of range");
  EXPECT_EQ(FaultOf("[F: TF]\nItems = \"1\", 2\n"), "line 2: a quoted string is expected after ','");
  EXPECT_EQ(FaultOf("[F: TF]\nStyle = [fsBold\n"), "line 2: the set has no closing ']'");
  EXPECT_EQ(FaultOf("[F: TF]\nStyle = [fsBold; fsItalic]\n"), "line 2: ',' or ']' is expected in a set");
  EXPECT_EQ(FaultOf("[F: TF]\nStyle = [fsBold,]\n"), "line 2: a name is expected");
  EXPECT_EQ(FaultOf("[F: TF]\nLeft = @\n"), "line 2: unexpected character '@'");
  EXPECT_EQ(FaultOf("[F: TF]\nFont. = 1\n"), "line 2: a name is expected");
  EXPECT_EQ(FaultOf("[F: TF]\nA B = 1\n"), "line 2: the property name is malformed");
}

TEST(FormDescription, RejectsRepeatedPropertiesAndNames) {
  EXPECT_EQ(FaultOf("[F: TF]\nLeft = 1\nLeft = 2\n"), "line 3: property \"Left\" is given twice");
  EXPECT_EQ(FaultOf("[F: TF]\n[L: TCheckListBox]\n[L: TCheckListBox]\n"),
            "line 3: the name \"L\" is used twice");
  EXPECT_EQ(FaultOf("[F: TF]\n[F: TCheckListBox]\n"), "line 2: the name \"F\" is used twice");
  // The same property name in different components is fine.
  EXPECT_EQ(FaultOf("[F: TF]\nLeft = 1\n[L: TCheckListBox]\nLeft = 2\n"), "");
}

}  // namespace
