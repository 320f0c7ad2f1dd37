// The platform-free parts of the form and check-list classes.
#include "Forms.h"

#include <algorithm>
#include <cctype>
#include <limits>

TFormSpec TForm::LoadFormSpec(std::string_view className) {
    std::string resourceName(className);
    for (char& c : resourceName) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    TFormSpec spec;
    try {
        spec = ReadFormSpec(ParseFormDescription(LoadFormResource(resourceName)));
    } catch (const EFormDescription& e) {
        throw EFormDescription("form description \"" + resourceName + "\", " + e.what());
    }
    if (spec.ClassName != className)
        throw EFormDescription("form description \"" + resourceName + "\" describes class \"" + spec.ClassName +
                               "\", not \"" + std::string(className) + "\"");
    return spec;
}

// Controls are created in tab order, so the first one takes the focus and,
// on Win32, the window order matches the tab order.
void TForm::CreateControls(const TFormSpec& spec) {
    std::vector<const TCheckListSpec*> ordered;
    for (const auto& list : spec.CheckLists) ordered.push_back(&list);
    auto rank = [](const TCheckListSpec* s) { return s->TabOrder < 0 ? std::numeric_limits<int>::max() : s->TabOrder; };
    std::stable_sort(ordered.begin(), ordered.end(), [&](const auto* a, const auto* b) { return rank(a) < rank(b); });
    for (const auto* list : ordered) Controls.push_back(std::make_unique<TCheckListBox>(*this, *list));
}

TCheckListBox& TForm::FindCheckListBox(std::string_view name) const {
    for (const auto& control : Controls)
        if (control->Name() == name) return *control;
    throw EFormDescription("form \"" + ComponentName + "\" has no component \"" + std::string(name) + "\"");
}

void TCheckListBox::CheckIndex(int index) const {
    if (index < 0 || index >= Count())
        throw std::out_of_range("check list \"" + ComponentName + "\" has no entry " + std::to_string(index));
}

void TCheckListBox::Toggle(int index) { SetChecked(index, !Checked(index)); }
