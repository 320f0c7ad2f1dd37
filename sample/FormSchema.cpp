#include "FormSchema.h"

#include <functional>
#include <map>
#include <utility>

namespace {

// Upper limits keep every stored size well inside what both toolkits accept.
constexpr long long MaxCoordinate = 32767;
constexpr long long MaxItemHeight = 255;

[[noreturn]] void Fail(const TPropertyDescription& p, const std::string& why) {
    throw EFormDescription(p.Line, "property \"" + p.Name + "\" " + why);
}

void RequireKind(const TPropertyDescription& p, TValueKind kind, const char* what) {
    if (p.Value.Kind != kind) Fail(p, std::string("needs ") + what);
}

int ReadInteger(const TPropertyDescription& p, long long low, long long high) {
    RequireKind(p, vkInteger, "a whole number");
    if (p.Value.Integer < low || p.Value.Integer > high)
        Fail(p, "must lie between " + std::to_string(low) + " and " + std::to_string(high));
    return static_cast<int>(p.Value.Integer);
}

int ReadCoordinate(const TPropertyDescription& p) { return ReadInteger(p, -MaxCoordinate, MaxCoordinate); }
int ReadExtent(const TPropertyDescription& p) { return ReadInteger(p, 0, MaxCoordinate); }

std::string ReadString(const TPropertyDescription& p) {
    RequireKind(p, vkStrings, "a quoted string");
    if (p.Value.Items.size() != 1) Fail(p, "needs exactly one string");
    return p.Value.Items.front();
}

template <class T>
T ReadNamed(const TPropertyDescription& p, const std::map<std::string, T>& names) {
    RequireKind(p, vkIdent, "a name");
    auto found = names.find(p.Value.Ident);
    if (found == names.end()) Fail(p, "does not know the value \"" + p.Value.Ident + "\"");
    return found->second;
}

bool ReadBoolean(const TPropertyDescription& p) { return ReadNamed<bool>(p, {{"false", false}, {"true", true}}); }

TColor ReadColor(const TPropertyDescription& p) {
    return ReadNamed<TColor>(
        p,
        {{"clBtnFace", clBtnFace}, {"clBtnText", clBtnText}, {"clWindow", clWindow}, {"clWindowText", clWindowText}});
}

TFontCharset ReadCharset(const TPropertyDescription& p) {
    return ReadNamed<TFontCharset>(p, {{"ANSI_CHARSET", fcAnsi},
                                       {"DEFAULT_CHARSET", fcDefault},
                                       {"SYMBOL_CHARSET", fcSymbol},
                                       {"OEM_CHARSET", fcOem}});
}

unsigned ReadFontStyle(const TPropertyDescription& p) {
    static const std::map<std::string, unsigned> styles{
        {"fsBold", fsBold}, {"fsItalic", fsItalic}, {"fsUnderline", fsUnderline}, {"fsStrikeOut", fsStrikeOut}};
    RequireKind(p, vkSet, "a set such as [fsBold]");
    unsigned result = 0;
    for (const auto& member : p.Value.Items) {
        auto found = styles.find(member);
        if (found == styles.end()) Fail(p, "does not know the style \"" + member + "\"");
        result |= found->second;
    }
    return result;
}

std::vector<std::string> ReadStrings(const TPropertyDescription& p) {
    RequireKind(p, vkStrings, "a list of quoted strings");
    return p.Value.Items;
}

template <class T>
using TSetters = std::map<std::string, std::function<void(T&, const TPropertyDescription&)>>;

void AddBoundsSetters(auto& setters) {
    setters["Left"] = [](auto& s, const auto& p) { s.Bounds.Left = ReadCoordinate(p); };
    setters["Top"] = [](auto& s, const auto& p) { s.Bounds.Top = ReadCoordinate(p); };
    setters["Width"] = [](auto& s, const auto& p) { s.Bounds.Width = ReadExtent(p); };
    setters["Height"] = [](auto& s, const auto& p) { s.Bounds.Height = ReadExtent(p); };
}

const TSetters<TFormSpec>& FormSetters() {
    static const TSetters<TFormSpec> setters = [] {
        TSetters<TFormSpec> s;
        AddBoundsSetters(s);
        s["Caption"] = [](TFormSpec& f, const auto& p) { f.Caption = ReadString(p); };
        s["Color"] = [](TFormSpec& f, const auto& p) { f.Color = ReadColor(p); };
        s["Font.Charset"] = [](TFormSpec& f, const auto& p) { f.Font.Charset = ReadCharset(p); };
        s["Font.Color"] = [](TFormSpec& f, const auto& p) { f.Font.Color = ReadColor(p); };
        s["Font.Height"] = [](TFormSpec& f, const auto& p) { f.Font.Height = ReadInteger(p, -1000, 1000); };
        s["Font.Name"] = [](TFormSpec& f, const auto& p) { f.Font.Name = ReadString(p); };
        s["Font.Style"] = [](TFormSpec& f, const auto& p) { f.Font.Style = ReadFontStyle(p); };
        s["OldCreateOrder"] = [](TFormSpec& f, const auto& p) { f.OldCreateOrder = ReadBoolean(p); };
        s["PixelsPerInch"] = [](TFormSpec& f, const auto& p) { f.PixelsPerInch = ReadInteger(p, 24, 960); };
        s["TextHeight"] = [](TFormSpec& f, const auto& p) { f.TextHeight = ReadInteger(p, 0, 1000); };
        return s;
    }();
    return setters;
}

const TSetters<TCheckListSpec>& CheckListSetters() {
    static const TSetters<TCheckListSpec> setters = [] {
        TSetters<TCheckListSpec> s;
        AddBoundsSetters(s);
        s["ItemHeight"] = [](TCheckListSpec& c, const auto& p) { c.ItemHeight = ReadInteger(p, 1, MaxItemHeight); };
        s["Items.Strings"] = [](TCheckListSpec& c, const auto& p) { c.Items = ReadStrings(p); };
        s["TabOrder"] = [](TCheckListSpec& c, const auto& p) { c.TabOrder = ReadInteger(p, -1, 32767); };
        return s;
    }();
    return setters;
}

template <class T>
void ApplyProperties(T& spec, const TComponentDescription& component, const TSetters<T>& setters) {
    for (const auto& property : component.Properties) {
        auto setter = setters.find(property.Name);
        if (setter == setters.end())
            throw EFormDescription(property.Line,
                                   "\"" + component.ClassName + "\" has no property \"" + property.Name + "\"");
        setter->second(spec, property);
    }
}

TCheckListSpec ReadCheckList(const TComponentDescription& component) {
    if (component.ClassName != "TCheckListBox")
        throw EFormDescription(component.Line, "the control class \"" + component.ClassName + "\" is unknown");
    TCheckListSpec spec;
    spec.Name = component.Name;
    ApplyProperties(spec, component, CheckListSetters());
    return spec;
}

}  // namespace

TFormSpec ReadFormSpec(const TFormDescription& description) {
    TFormSpec spec;
    spec.Name = description.Form.Name;
    spec.ClassName = description.Form.ClassName;
    ApplyProperties(spec, description.Form, FormSetters());
    for (const auto& child : description.Children) spec.CheckLists.push_back(ReadCheckList(child));
    return spec;
}
