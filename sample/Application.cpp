// The platform-free part of the application object: it owns the forms.
#include "Forms.h"

TApplication Application;

void TApplication::AdoptForm(std::unique_ptr<TForm> form, std::function<void()> forget) {
    if (Forms.empty()) form->MakeMainForm();
    Forms.push_back(std::move(form));
    Forgetters.push_back(std::move(forget));
}

// Later forms go first, and each form variable is cleared with its form.
void TApplication::DestroyForms() {
    while (!Forms.empty()) {
        Forms.pop_back();
        Forgetters.back()();
        Forgetters.pop_back();
    }
}
