#include "FormDescription.h"

#include <cctype>
#include <limits>

EFormDescription::EFormDescription(int line, const std::string& message)
    : std::runtime_error("line " + std::to_string(line) + ": " + message) {}

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }
bool IsIdentStart(char c) { return std::isalpha(static_cast<unsigned char>(c)) || c == '_'; }
bool IsIdentChar(char c) { return IsIdentStart(c) || std::isdigit(static_cast<unsigned char>(c)); }
bool IsDigit(char c) { return std::isdigit(static_cast<unsigned char>(c)) != 0; }

std::string_view Trim(std::string_view s) {
    while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
    while (!s.empty() && (IsBlank(s.back()) || s.back() == '\r')) s.remove_suffix(1);
    return s;
}

// A cursor over the value part of one line.
class TValueScanner {
public:
    TValueScanner(std::string_view text, int line) : Text(text), Line(line) {}

    TPropertyValue Scan() {
        SkipBlanks();
        TPropertyValue value;
        if (AtEnd()) Fail("a value is missing");
        char c = Text[Pos];
        if (c == '"')
            ScanStrings(value);
        else if (c == '[')
            ScanSet(value);
        else if (c == '-' || c == '+' || IsDigit(c))
            ScanInteger(value);
        else if (IsIdentStart(c)) {
            value.Kind = vkIdent;
            value.Ident = ScanIdent();
        } else
            Fail(std::string("unexpected character '") + c + "'");
        SkipBlanks();
        if (!AtEnd()) Fail("unexpected text after the value");
        return value;
    }

    // Scans "Name" or "Name.Sub" (a dotted property name).
    std::string ScanDottedName() {
        std::string name = ScanIdent();
        while (!AtEnd() && Text[Pos] == '.') {
            ++Pos;
            name += '.' + ScanIdent();
        }
        return name;
    }

    std::string ScanIdent() {
        if (AtEnd() || !IsIdentStart(Text[Pos])) Fail("a name is expected");
        size_t start = Pos;
        while (!AtEnd() && IsIdentChar(Text[Pos])) ++Pos;
        return std::string(Text.substr(start, Pos - start));
    }

    void Expect(char c) {
        SkipBlanks();
        if (AtEnd() || Text[Pos] != c) Fail(std::string("'") + c + "' is expected");
        ++Pos;
        SkipBlanks();
    }

    void SkipBlanks() {
        while (!AtEnd() && IsBlank(Text[Pos])) ++Pos;
    }
    bool AtEnd() const { return Pos >= Text.size(); }
    [[noreturn]] void Fail(const std::string& message) const { throw EFormDescription(Line, message); }

private:
    void ScanInteger(TPropertyValue& value) {
        bool negative = Text[Pos] == '-';
        if (Text[Pos] == '-' || Text[Pos] == '+') ++Pos;
        if (AtEnd() || !IsDigit(Text[Pos])) Fail("digits are expected");
        long long magnitude = 0;
        const long long limit = std::numeric_limits<int>::max() + 1LL;
        while (!AtEnd() && IsDigit(Text[Pos])) {
            magnitude = magnitude * 10 + (Text[Pos++] - '0');
            if (magnitude > limit) Fail("the number is out of range");
        }
        if (!negative && magnitude == limit) Fail("the number is out of range");
        value.Kind = vkInteger;
        value.Integer = negative ? -magnitude : magnitude;
    }

    void ScanStrings(TPropertyValue& value) {
        value.Kind = vkStrings;
        value.Items.push_back(ScanQuoted());
        SkipBlanks();
        while (!AtEnd() && Text[Pos] == ',') {
            ++Pos;
            SkipBlanks();
            if (AtEnd() || Text[Pos] != '"') Fail("a quoted string is expected after ','");
            value.Items.push_back(ScanQuoted());
            SkipBlanks();
        }
    }

    std::string ScanQuoted() {
        std::string result;
        ++Pos;  // opening quote
        for (;;) {
            if (AtEnd()) Fail("the string has no closing quote");
            char c = Text[Pos++];
            if (c != '"') {
                result += c;
                continue;
            }
            if (AtEnd() || Text[Pos] != '"') return result;
            result += '"';
            ++Pos;
        }
    }

    void ScanSet(TPropertyValue& value) {
        value.Kind = vkSet;
        ++Pos;  // '['
        SkipBlanks();
        if (!AtEnd() && Text[Pos] == ']') {
            ++Pos;
            return;
        }
        for (;;) {
            SkipBlanks();
            value.Items.push_back(ScanIdent());
            SkipBlanks();
            if (AtEnd()) Fail("the set has no closing ']'");
            char c = Text[Pos++];
            if (c == ']') return;
            if (c != ',') Fail("',' or ']' is expected in a set");
        }
    }

    std::string_view Text;
    int Line;
    size_t Pos = 0;
};

TComponentDescription ParseSectionHeader(std::string_view line, int lineNumber) {
    TValueScanner scanner(line.substr(1), lineNumber);
    TComponentDescription component;
    component.Line = lineNumber;
    scanner.SkipBlanks();
    component.Name = scanner.ScanIdent();
    scanner.Expect(':');
    component.ClassName = scanner.ScanIdent();
    scanner.Expect(']');
    if (!scanner.AtEnd()) scanner.Fail("unexpected text after the section header");
    return component;
}

TPropertyDescription ParseProperty(std::string_view line, int lineNumber) {
    size_t equals = line.find('=');
    if (equals == std::string_view::npos) throw EFormDescription(lineNumber, "'=' is expected");
    TValueScanner nameScanner(Trim(line.substr(0, equals)), lineNumber);
    TPropertyDescription property;
    property.Line = lineNumber;
    property.Name = nameScanner.ScanDottedName();
    if (!nameScanner.AtEnd()) nameScanner.Fail("the property name is malformed");
    property.Value = TValueScanner(line.substr(equals + 1), lineNumber).Scan();
    return property;
}

void AddProperty(TComponentDescription& component, TPropertyDescription property) {
    for (const auto& existing : component.Properties)
        if (existing.Name == property.Name)
            throw EFormDescription(property.Line, "property \"" + property.Name + "\" is given twice");
    component.Properties.push_back(std::move(property));
}

void CheckUniqueName(const TFormDescription& form, const TComponentDescription& component) {
    bool taken = form.Form.Name == component.Name;
    for (const auto& child : form.Children) taken = taken || child.Name == component.Name;
    if (taken) throw EFormDescription(component.Line, "the name \"" + component.Name + "\" is used twice");
}

}  // namespace

TFormDescription ParseFormDescription(std::string_view text) {
    TFormDescription form;
    TComponentDescription* current = nullptr;
    int lineNumber = 0;
    while (!text.empty() || lineNumber == 0) {
        ++lineNumber;
        size_t end = text.find('\n');
        std::string_view line = Trim(text.substr(0, end));
        text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
        if (line.empty() || line.front() == ';' || line.front() == '#') continue;
        if (line.front() == '[') {
            TComponentDescription component = ParseSectionHeader(line, lineNumber);
            if (current == nullptr) {
                form.Form = std::move(component);
                current = &form.Form;
            } else {
                CheckUniqueName(form, component);
                form.Children.push_back(std::move(component));
                current = &form.Children.back();
            }
            continue;
        }
        if (current == nullptr) throw EFormDescription(lineNumber, "a property comes before the first section");
        AddProperty(*current, ParseProperty(line, lineNumber));
    }
    if (current == nullptr) throw EFormDescription("the description holds no form section");
    return form;
}
