// TApplication with Qt Widgets: owns the QApplication. The program's own
// arguments are not handed to Qt, so the program reads none.
#include "Forms.h"

#include <QApplication>
#include <QIcon>

#include <cstdio>
#include <stdexcept>

struct TApplication::TImpl {
    std::unique_ptr<QApplication> Qt;
};

TApplication::TApplication() = default;

// Qt's own globals may already be gone by now: the QApplication is left to
// the ending process rather than destroyed.
TApplication::~TApplication() {
    if (Impl) static_cast<void>(Impl->Qt.release());
}

void TApplication::Finalize() {
    DestroyForms();
    Impl.reset();
}

void TApplication::Initialize() {
    if (Impl) return;
    static int argumentCount = 1;
    static char programName[] = "Marrowby";
    static char* arguments[] = {programName, nullptr};
    Impl = std::make_unique<TImpl>();
    Impl->Qt = std::make_unique<QApplication>(argumentCount, arguments);
    QApplication::setQuitOnLastWindowClosed(false);  // the main form decides
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/MAINICON")));
}

int TApplication::Run() {
    if (!Impl || Forms.empty()) throw std::logic_error("Run needs Initialize and a form");
    Forms.front()->Show();
    int code = QApplication::exec();
    Finalize();
    return code;
}

void TApplication::ShowException(const std::exception& error) { std::fprintf(stderr, "Marrowby: %s\n", error.what()); }
