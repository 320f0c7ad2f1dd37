// TApplication on Win32: a plain GetMessage loop, ended by the main form's
// WM_DESTROY (PostQuitMessage(0)).
#include "Forms.h"
#include "Win32Text.h"

#include <windows.h>

#include <stdexcept>

struct TApplication::TImpl {};

TApplication::TApplication() = default;

TApplication::~TApplication() { Finalize(); }

void TApplication::Finalize() {
    DestroyForms();
    Impl.reset();
}

void TApplication::Initialize() {
    if (!Impl) Impl = std::make_unique<TImpl>();
}

int TApplication::Run() {
    if (!Impl || Forms.empty()) throw std::logic_error("Run needs Initialize and a form");
    Forms.front()->Show();
    MSG message{};
    BOOL result;
    while ((result = GetMessageW(&message, nullptr, 0, 0)) > 0) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    Finalize();
    return result == 0 ? static_cast<int>(message.wParam) : 1;
}

void TApplication::ShowException(const std::exception& error) {
    MessageBoxW(nullptr, WideFromUtf8(error.what()).c_str(), L"Marrowby", MB_OK | MB_ICONERROR);
}
