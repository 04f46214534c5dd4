#include "platform/ui/Accessibility.h"

#include <QAccessible>
#include <QAccessibleValueInterface>
#include <QAccessibleWidget>

#include "platform/ui/Button.h"
#include "platform/ui/Label.h"
#include "platform/ui/Slider.h"
#include "platform/ui/TabBarController.h"
#include "platform/ui/TableView.h"

namespace ui {

namespace {

QString fromStd(const std::string& text) { return QString::fromStdString(text); }

class ButtonAccessible : public QAccessibleWidget {
public:
    explicit ButtonAccessible(Button* button) : QAccessibleWidget(button, QAccessible::Button) {}
    QString text(QAccessible::Text kind) const override {
        if (kind == QAccessible::Name) return fromStd(button()->accessibleText());
        return QAccessibleWidget::text(kind);
    }
    QStringList actionNames() const override {
        return button()->isEnabled() ? QStringList{pressAction()} : QStringList{};
    }
    void doAction(const QString& action) override {
        if (action == pressAction() && button()->isEnabled()) button()->sendAction();
    }

private:
    Button* button() const { return static_cast<Button*>(widget()); }
};

class SliderAccessible : public QAccessibleWidget, public QAccessibleValueInterface {
public:
    explicit SliderAccessible(Slider* slider) : QAccessibleWidget(slider, QAccessible::Slider) {}
    void* interface_cast(QAccessible::InterfaceType type) override {
        if (type == QAccessible::ValueInterface)
            return static_cast<QAccessibleValueInterface*>(this);
        return QAccessibleWidget::interface_cast(type);
    }
    QString text(QAccessible::Text kind) const override {
        if (kind == QAccessible::Value) {
            const float range = slider()->maximumValue() - slider()->minimumValue();
            const float share =
                range > 0 ? (slider()->value() - slider()->minimumValue()) / range : 0;
            return QString("%1%").arg(qRound(share * 100));
        }
        return QAccessibleWidget::text(kind);
    }
    QVariant currentValue() const override { return double(slider()->value()); }
    // As the user would move it: the screen's action runs.
    void setCurrentValue(const QVariant& value) override {
        if (slider()->isEnabled()) slider()->setValueByUser(value.toFloat());
    }
    QVariant maximumValue() const override { return double(slider()->maximumValue()); }
    QVariant minimumValue() const override { return double(slider()->minimumValue()); }
    QVariant minimumStepSize() const override {
        return double(slider()->maximumValue() - slider()->minimumValue()) / 20;
    }

private:
    Slider* slider() const { return static_cast<Slider*>(widget()); }
};

class LabelAccessible : public QAccessibleWidget {
public:
    explicit LabelAccessible(Label* label) : QAccessibleWidget(label, QAccessible::StaticText) {}
    QString text(QAccessible::Text kind) const override {
        const Label* label = static_cast<Label*>(widget());
        if (kind == QAccessible::Name) {
            if (!label->accessibleName().isEmpty()) return label->accessibleName();
            return fromStd(label->text().value_or(""));
        }
        return QAccessibleWidget::text(kind);
    }
};

class TabBarAccessible : public QAccessibleWidget {
public:
    explicit TabBarAccessible(TabBar* bar) : QAccessibleWidget(bar, QAccessible::PageTabList) {}
    QString text(QAccessible::Text kind) const override {
        const TabBar* bar = static_cast<TabBar*>(widget());
        if (kind == QAccessible::Name) return "Tabs";
        if (kind == QAccessible::Value && bar->selectedIndex() < bar->items().size())
            return fromStd(bar->items()[bar->selectedIndex()].title);
        return QAccessibleWidget::text(kind);
    }
};

class TableAccessible : public QAccessibleWidget {
public:
    explicit TableAccessible(TableView* table) : QAccessibleWidget(table, QAccessible::List) {}
    QString text(QAccessible::Text kind) const override {
        auto* table = static_cast<TableView*>(widget());
        if (kind == QAccessible::Value && table->keyboardRow() >= 0) {
            for (TableViewCell* cell : table->visibleCells()) {
                if (cell->hasKeyboardCursor())
                    return fromStd(cell->textLabel().text().value_or(""));
            }
        }
        return QAccessibleWidget::text(kind);
    }
};

QAccessibleInterface* interfaceFor(const QString&, QObject* object) {
    if (auto* button = dynamic_cast<Button*>(object)) return new ButtonAccessible(button);
    if (auto* slider = dynamic_cast<Slider*>(object)) return new SliderAccessible(slider);
    if (auto* label = dynamic_cast<Label*>(object)) return new LabelAccessible(label);
    if (auto* bar = dynamic_cast<TabBar*>(object)) return new TabBarAccessible(bar);
    if (auto* table = dynamic_cast<TableView*>(object)) return new TableAccessible(table);
    return nullptr;
}

}  // namespace

void installAccessibility() {
    static const bool installed = [] {
        QAccessible::installFactory(interfaceFor);
        return true;
    }();
    (void)installed;
}

}  // namespace ui
