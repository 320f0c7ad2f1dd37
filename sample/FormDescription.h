// Reads the text form of a stored window description. The text is a list of
// sections, the first for the form and one for each child control:
//
//   ; comment
//   [Form1: TForm1]
//   Left = 192
//   Caption = "Form1"
//   Font.Style = []
//   [CheckListBox1: TCheckListBox]
//   Items.Strings = "1", "2"
//
// A value is an integer, an identifier, one or more quoted strings separated
// by commas ("" stands for a quote inside a string), or a set of identifiers
// in brackets. The reader checks only the shape; what the names mean is up to
// FormSpec.
#pragma once

#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

enum TValueKind { vkInteger, vkIdent, vkStrings, vkSet };

struct TPropertyValue {
    TValueKind Kind = vkInteger;
    long long Integer = 0;
    std::string Ident;
    std::vector<std::string> Items;  // the strings, or the members of a set
};

struct TPropertyDescription {
    std::string Name;
    TPropertyValue Value;
    int Line = 0;
};

struct TComponentDescription {
    std::string Name;
    std::string ClassName;
    int Line = 0;
    std::vector<TPropertyDescription> Properties;
};

struct TFormDescription {
    TComponentDescription Form;
    std::vector<TComponentDescription> Children;
};

// A fault in a description; the message starts with "line N: " when the
// fault belongs to a line.
class EFormDescription : public std::runtime_error {
public:
    explicit EFormDescription(const std::string& message) : std::runtime_error(message) {}
    EFormDescription(int line, const std::string& message);
};

TFormDescription ParseFormDescription(std::string_view text);
