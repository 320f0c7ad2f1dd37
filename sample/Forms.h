// Marrowby's small window toolkit: an application object, forms built from a
// stored description, and a check-list box. The classes here are the same on
// every platform; Form_*.cpp, CheckListBox_*.cpp, Application_*.cpp and
// FormResource_*.cpp implement them with Win32 or with Qt Widgets.
#pragma once

#include "FormSchema.h"

#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#if defined(_WIN32)
struct HWND__;
using TNativeWindow = HWND__*;
#else
class QWidget;
using TNativeWindow = QWidget*;
#endif

class TForm;

class TCheckListBox {
public:
    TCheckListBox(TForm& owner, const TCheckListSpec& spec);
    ~TCheckListBox();
    TCheckListBox(const TCheckListBox&) = delete;
    TCheckListBox& operator=(const TCheckListBox&) = delete;

    const std::string& Name() const { return ComponentName; }
    int Count() const;
    std::string Item(int index) const;  // UTF-8
    bool Checked(int index) const;
    void SetChecked(int index, bool checked);
    void Toggle(int index);
    void TakeFocus();
    TNativeWindow Handle() const;

    struct TImpl;

private:
    void CheckIndex(int index) const;

    std::string ComponentName;
    std::unique_ptr<TImpl> Impl;
};

class TForm {
public:
    explicit TForm(const TFormSpec& spec);
    virtual ~TForm();
    TForm(const TForm&) = delete;
    TForm& operator=(const TForm&) = delete;

    const std::string& Name() const { return ComponentName; }
    TNativeWindow Handle() const;
    // The component of that name; throws when the form has none.
    TCheckListBox& FindCheckListBox(std::string_view name) const;
    void Show();
    void Close();
    // Closing the main form ends the application's message loop.
    void MakeMainForm();

    struct TImpl;

protected:
    // The description stored as the resource named after the class (upper
    // case), checked to describe that class.
    static TFormSpec LoadFormSpec(std::string_view className);

private:
    void CreateControls(const TFormSpec& spec);

    std::string ComponentName;
    std::unique_ptr<TImpl> Impl;  // declared first: destroyed after the controls
    std::vector<std::unique_ptr<TCheckListBox>> Controls;
};

// The raw bytes of the program's resource of that name; throws when missing.
std::string LoadFormResource(std::string_view resourceName);

class TApplication {
public:
    TApplication();
    ~TApplication();

    void Initialize();
    // Creates a form of class T, stores it in reference and keeps it until the
    // loop has ended. The first form created becomes the main form.
    template <class T>
    void CreateForm(T*& reference) {
        auto form = std::make_unique<T>();
        reference = form.get();
        AdoptForm(std::move(form), [&reference] { reference = nullptr; });
    }
    // Shows the main form and runs the message loop until it is closed; then
    // destroys the forms and shuts the toolkit down. Returns the exit code.
    int Run();
    // Destroys the forms and shuts the toolkit down; Run does it when the loop
    // has ended. A program that ends without it leaves the toolkit to the
    // system, since shutting it down during static destruction is unsafe.
    void Finalize();
    void ShowException(const std::exception& error);

    struct TImpl;

private:
    void AdoptForm(std::unique_ptr<TForm> form, std::function<void()> forget);
    void DestroyForms();

    std::unique_ptr<TImpl> Impl;
    std::vector<std::unique_ptr<TForm>> Forms;
    std::vector<std::function<void()>> Forgetters;
};

extern TApplication Application;
