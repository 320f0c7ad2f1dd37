// TForm with Qt Widgets: a top-level QWidget. The stored position and size are
// the outer ones, frame included, as on Windows.
#include "FormScaling.h"
#include "Forms.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QFont>
#include <QPalette>
#include <QWidget>

namespace {

class TFormWidget final : public QWidget {
public:
    explicit TFormWidget(const TBounds& outer) : Outer(outer) {}
    bool MainForm = false;

protected:
    bool event(QEvent* e) override {
        bool result = QWidget::event(e);
        if (!FrameFitted && (e->type() == QEvent::Show || e->type() == QEvent::Move)) FitFrame();
        return result;
    }

    void closeEvent(QCloseEvent* e) override {
        QWidget::closeEvent(e);
        if (MainForm && e->isAccepted()) QCoreApplication::quit();
    }

private:
    // A window manager's frame becomes known only after the window is shown;
    // the client area then shrinks so that the outer size stays as stored.
    void FitFrame() {
        QSize frame = frameGeometry().size() - geometry().size();
        if (frame.isNull()) return;
        FrameFitted = true;
        resize(Outer.Width - frame.width(), Outer.Height - frame.height());
    }

    TBounds Outer;
    bool FrameFitted = false;
};

QPalette::ColorRole RoleOf(TColor color) {
    switch (color) {
        case clBtnFace:
            return QPalette::Button;
        case clBtnText:
            return QPalette::ButtonText;
        case clWindow:
            return QPalette::Base;
        case clWindowText:
            return QPalette::Text;
    }
    return QPalette::Button;
}

QPalette MakePalette(const TFormSpec& spec, QPalette palette) {
    const QColor background = palette.color(RoleOf(spec.Color));
    const QColor text = palette.color(RoleOf(spec.Font.Color));
    palette.setColor(QPalette::Window, background);
    palette.setColor(QPalette::WindowText, text);
    palette.setColor(QPalette::Text, text);
    return palette;
}

// A negative height is the character height, which is Qt's pixel size; a
// positive one is the cell height, which Qt cannot request, so it is used as
// the pixel size too (slightly larger text).
QFont MakeFont(const TFontSpec& spec, QFont font) {
    if (!spec.Name.empty()) font.setFamily(QString::fromUtf8(spec.Name));
    if (spec.Height != 0) font.setPixelSize(spec.Height < 0 ? -spec.Height : spec.Height);
    font.setBold((spec.Style & fsBold) != 0);
    font.setItalic((spec.Style & fsItalic) != 0);
    font.setUnderline((spec.Style & fsUnderline) != 0);
    font.setStrikeOut((spec.Style & fsStrikeOut) != 0);
    return font;
}

}  // namespace

struct TForm::TImpl {
    std::unique_ptr<TFormWidget> Widget;
};

TForm::TForm(const TFormSpec& stored) : ComponentName(stored.Name), Impl(std::make_unique<TImpl>()) {
    const TFormSpec spec = ScaleForm(stored, ToolkitPixelsPerInch);
    Impl->Widget = std::make_unique<TFormWidget>(spec.Bounds);
    TFormWidget& widget = *Impl->Widget;
    widget.setObjectName(QString::fromUtf8(spec.Name));
    widget.setWindowTitle(QString::fromUtf8(spec.Caption));
    widget.setFont(MakeFont(spec.Font, widget.font()));
    widget.setPalette(MakePalette(spec, widget.palette()));
    widget.setAutoFillBackground(true);
    widget.move(spec.Bounds.Left, spec.Bounds.Top);
    widget.resize(spec.Bounds.Width, spec.Bounds.Height);
    CreateControls(spec);
}

TForm::~TForm() = default;

TNativeWindow TForm::Handle() const { return Impl->Widget.get(); }

void TForm::Show() {
    Impl->Widget->show();
    if (!Controls.empty()) Controls.front()->TakeFocus();
}

void TForm::Close() { Impl->Widget->close(); }

void TForm::MakeMainForm() { Impl->Widget->MainForm = true; }
