// TCheckListBox with Qt Widgets: a QListWidget of checkable entries. Qt's own
// item view toggles an entry on a click in its check box or on the space bar.
#include "Forms.h"

#include <QListWidget>
#include <QPointer>
#include <QStyledItemDelegate>

namespace {

// Gives every entry the stored item height.
class TItemHeightDelegate final : public QStyledItemDelegate {
public:
    TItemHeightDelegate(int height, QObject* parent) : QStyledItemDelegate(parent), Height(height) {}

    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override {
        QSize size = QStyledItemDelegate::sizeHint(option, index);
        size.setHeight(Height);
        return size;
    }

private:
    int Height;
};

}  // namespace

struct TCheckListBox::TImpl {
    QPointer<QListWidget> List;
};

TCheckListBox::TCheckListBox(TForm& owner, const TCheckListSpec& spec)
    : ComponentName(spec.Name), Impl(std::make_unique<TImpl>()) {
    auto* list = new QListWidget(owner.Handle());
    Impl->List = list;
    list->setObjectName(QString::fromUtf8(spec.Name));
    // A window of its own, as a Win32 control is: the window system, and so a
    // test from outside, sees the list's place and size.
    list->setAttribute(Qt::WA_NativeWindow);
    const TBounds& b = spec.Bounds;
    list->setGeometry(b.Left, b.Top, b.Width, b.Height);
    list->setItemDelegate(new TItemHeightDelegate(spec.ItemHeight, list));
    list->setUniformItemSizes(true);
    list->setFocusPolicy(Qt::StrongFocus);
    for (const auto& text : spec.Items) {
        auto* item = new QListWidgetItem(QString::fromUtf8(text), list);
        item->setFlags(item->flags() | Qt::ItemIsUserCheckable);
        item->setCheckState(Qt::Unchecked);
    }
}

TCheckListBox::~TCheckListBox() { delete Impl->List.data(); }

int TCheckListBox::Count() const { return Impl->List ? Impl->List->count() : 0; }

std::string TCheckListBox::Item(int index) const {
    CheckIndex(index);
    return Impl->List->item(index)->text().toStdString();
}

bool TCheckListBox::Checked(int index) const {
    CheckIndex(index);
    return Impl->List->item(index)->checkState() == Qt::Checked;
}

void TCheckListBox::SetChecked(int index, bool checked) {
    CheckIndex(index);
    Impl->List->item(index)->setCheckState(checked ? Qt::Checked : Qt::Unchecked);
}

void TCheckListBox::TakeFocus() {
    if (Impl->List) Impl->List->setFocus();
}

TNativeWindow TCheckListBox::Handle() const { return Impl->List.data(); }
