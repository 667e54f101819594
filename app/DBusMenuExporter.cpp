#include "app/DBusMenuExporter.h"

#include <QAction>
#include <QEvent>
#include <QMenu>

#include "app/TrayMenu.h"

namespace hushwell {

namespace {

constexpr int kRootId = 0;

QVariantMap Filtered(const QVariantMap& properties, const QStringList& names) {
    if (names.isEmpty()) {
        return properties;
    }
    QVariantMap kept;
    for (const QString& name : names) {
        if (properties.contains(name)) {
            kept.insert(name, properties.value(name));
        }
    }
    return kept;
}

}  // namespace

DBusMenuExporter::DBusMenuExporter(QObject* parent) : QObject(parent) {}

void DBusMenuExporter::SetMenu(QMenu* menu) {
    if (menu_) {
        menu_->removeEventFilter(this);
    }
    menu_ = menu;
    if (menu_) {
        menu_->installEventFilter(this);
    }
    AnnounceLayoutChange();
}

bool DBusMenuExporter::eventFilter(QObject* watched, QEvent* event) {
    switch (event->type()) {
        case QEvent::ActionAdded:
        case QEvent::ActionRemoved:
        case QEvent::ActionChanged:
            AnnounceLayoutChange();
            break;
        default:
            break;
    }
    return QObject::eventFilter(watched, event);
}

// A rebuilt menu changes many actions at once; the host hears of it once.
void DBusMenuExporter::AnnounceLayoutChange() {
    if (announcePending_) {
        return;
    }
    announcePending_ = true;
    QMetaObject::invokeMethod(
        this,
        [this] {
            announcePending_ = false;
            ++revision_;
            emit LayoutUpdated(revision_, kRootId);
        },
        Qt::QueuedConnection);
}

QAction* DBusMenuExporter::ActionFor(int id) const {
    if (!menu_ || id <= kRootId) {
        return nullptr;
    }
    const QList<QAction*> actions = menu_->actions();
    return id <= actions.size() ? actions[id - 1] : nullptr;
}

QVariantMap DBusMenuExporter::PropertiesOf(int id, const QStringList& names) const {
    QVariantMap properties;
    if (id == kRootId) {
        properties.insert(QStringLiteral("children-display"), QStringLiteral("submenu"));
    } else if (const QAction* action = ActionFor(id)) {
        if (action->isSeparator()) {
            properties.insert(QStringLiteral("type"), QStringLiteral("separator"));
        } else {
            const std::string label = DBusMenuLabel(action->text().toStdString());
            properties.insert(QStringLiteral("label"), QString::fromStdString(label));
        }
        properties.insert(QStringLiteral("enabled"), action->isEnabled());
        properties.insert(QStringLiteral("visible"), action->isVisible());
    }
    return Filtered(properties, names);
}

uint DBusMenuExporter::GetLayout(int parentId, int recursionDepth, const QStringList& propertyNames,
                                 DBusMenuLayoutItem& layout) {
    layout = DBusMenuLayoutItem{parentId, PropertiesOf(parentId, propertyNames), {}};
    // The menu is flat: only the root has children.
    if (parentId == kRootId && recursionDepth != 0 && menu_) {
        const qsizetype count = menu_->actions().size();
        for (int id = 1; id <= count; ++id) {
            layout.children.append(DBusMenuLayoutItem{id, PropertiesOf(id, propertyNames), {}});
        }
    }
    return revision_;
}

QList<DBusMenuItemProperties> DBusMenuExporter::GetGroupProperties(
    const QList<int>& ids, const QStringList& propertyNames) {
    QList<DBusMenuItemProperties> items;
    for (int id : ids) {
        if (id == kRootId || ActionFor(id) != nullptr) {
            items.append(DBusMenuItemProperties{id, PropertiesOf(id, propertyNames)});
        }
    }
    return items;
}

QDBusVariant DBusMenuExporter::GetProperty(int id, const QString& name) {
    return QDBusVariant(PropertiesOf(id, {}).value(name));
}

void DBusMenuExporter::Event(int id, const QString& eventId, const QDBusVariant& /*data*/,
                             uint /*timestamp*/) {
    QAction* action = ActionFor(id);
    if (action != nullptr && eventId == QStringLiteral("clicked") && !action->isSeparator() &&
        action->isEnabled()) {
        action->trigger();
    }
}

bool DBusMenuExporter::AboutToShow(int /*id*/) {
    return false;  // the layout is always current
}

QList<int> DBusMenuExporter::AboutToShowGroup(const QList<int>& ids, QList<int>& idErrors) {
    for (int id : ids) {
        if (id != kRootId && ActionFor(id) == nullptr) {
            idErrors.append(id);
        }
    }
    return {};
}

}  // namespace hushwell
