#include "window/Accessibility.h"

#include <QAccessibleWidget>
#include <QWidget>

namespace kurumu::window {

namespace {

// The program's window as assistive technology reads it: a frame named by its caption,
// holding only the controls a user can see (the hidden holders of the stored list, the
// log text and the destination are none of a user's business).
class AccessibleMainWindow final : public QAccessibleWidget {
public:
    explicit AccessibleMainWindow(QWidget* window) : QAccessibleWidget(window, QAccessible::Window) {}

    QString text(QAccessible::Text kind) const override {
        if (kind == QAccessible::Name) return widget()->windowTitle();
        return QAccessibleWidget::text(kind);
    }
    int childCount() const override { return static_cast<int>(shownChildren().size()); }
    QAccessibleInterface* child(int index) const override {
        const QList<QWidget*> children = shownChildren();
        if (index < 0 || index >= children.size()) return nullptr;
        return QAccessible::queryAccessibleInterface(children[index]);
    }
    int indexOfChild(const QAccessibleInterface* child) const override {
        if (child == nullptr) return -1;
        return static_cast<int>(shownChildren().indexOf(qobject_cast<QWidget*>(child->object())));
    }

private:
    QList<QWidget*> shownChildren() const {
        QList<QWidget*> shown;
        for (QObject* object : widget()->children()) {
            auto* control = qobject_cast<QWidget*>(object);
            if (control != nullptr && !control->isWindow() && control->isVisibleTo(widget())) shown.append(control);
        }
        return shown;
    }
};

// Owned, once made, by Qt's accessibility cache.
QAccessibleInterface* accessibleMainWindow(const QString& className, QObject* object) {
    if (!object->isWidgetType()) return nullptr;
    auto* widget = static_cast<QWidget*>(object);
    if (className == QLatin1String(kMainWindowClass)) return new AccessibleMainWindow(widget);
    if (className == QLatin1String(AlertLabel::staticMetaObject.className()))
        return new QAccessibleWidget(widget, QAccessible::AlertMessage);
    return nullptr;
}

}  // namespace

void installAccessibility() {
    static const bool installed = [] {
        QAccessible::installFactory(accessibleMainWindow);
        return true;
    }();
    (void)installed;
}

}  // namespace kurumu::window
