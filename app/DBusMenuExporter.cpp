#include "app/DBusMenuExporter.h"

#include <QAction>
#include <QDBusMessage>
#include <QEvent>
#include <QMenu>

#include "app/TrayMenu.h"

namespace hushwell {

namespace {

constexpr int kRootId = 0;
constexpr const char* kClickedEvent = "clicked";
constexpr const char* kUnknownIdError = "com.canonical.dbusmenu.UnknownId";

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
            AnnounceChangedProperties();
            ++revision_;
            emit LayoutUpdated(revision_, kRootId);
        },
        Qt::QueuedConnection);
}

// Items that are new to the host come with the layout; only those it has are compared.
void DBusMenuExporter::AnnounceChangedProperties() {
    QMap<int, QVariantMap> current = AllProperties();
    QList<DBusMenuItemProperties> updated;
    QList<DBusMenuItemPropertyNames> removed;
    for (auto item = current.cbegin(); item != current.cend(); ++item) {
        const auto before = announced_.constFind(item.key());
        if (before == announced_.cend()) {
            continue;
        }
        QVariantMap changed;
        for (auto property = item->cbegin(); property != item->cend(); ++property) {
            if (before->value(property.key()) != property.value()) {
                changed.insert(property.key(), property.value());
            }
        }
        QStringList gone;
        for (auto property = before->cbegin(); property != before->cend(); ++property) {
            if (!item->contains(property.key())) {
                gone.append(property.key());
            }
        }
        if (!changed.isEmpty()) {
            updated.append(DBusMenuItemProperties{item.key(), changed});
        }
        if (!gone.isEmpty()) {
            removed.append(DBusMenuItemPropertyNames{item.key(), gone});
        }
    }
    announced_ = std::move(current);
    if (!updated.isEmpty() || !removed.isEmpty()) {
        emit ItemsPropertiesUpdated(updated, removed);
    }
}

QMap<int, QVariantMap> DBusMenuExporter::AllProperties() const {
    QMap<int, QVariantMap> all;
    all.insert(kRootId, PropertiesOf(kRootId, {}));
    const qsizetype count = menu_ ? menu_->actions().size() : 0;
    for (int id = 1; id <= count; ++id) {
        all.insert(id, PropertiesOf(id, {}));
    }
    return all;
}

QAction* DBusMenuExporter::ActionFor(int id) const {
    if (!menu_ || id <= kRootId) {
        return nullptr;
    }
    const QList<QAction*> actions = menu_->actions();
    return id <= actions.size() ? actions[id - 1] : nullptr;
}

bool DBusMenuExporter::Exists(int id) const {
    return id == kRootId || ActionFor(id) != nullptr;
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
        if (Exists(id)) {
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
    HandleEvent(id, eventId);
}

// Other events ("opened", "closed", "hovered") need nothing.
bool DBusMenuExporter::HandleEvent(int id, const QString& eventId) {
    if (!Exists(id)) {
        return false;
    }
    QAction* action = ActionFor(id);
    if (action != nullptr && eventId == QLatin1String(kClickedEvent) && !action->isSeparator() &&
        action->isEnabled()) {
        action->trigger();
    }
    return true;
}

QList<int> DBusMenuExporter::EventGroup(const QList<DBusMenuEvent>& events) {
    QList<int> idErrors;
    for (const DBusMenuEvent& event : events) {
        if (!HandleEvent(event.id, event.eventId)) {
            idErrors.append(event.id);
        }
    }
    if (!events.isEmpty() && idErrors.size() == events.size() && calledFromDBus()) {
        sendErrorReply(QLatin1String(kUnknownIdError),
                       QStringLiteral("No menu item has the ids of these events"));
    }
    return idErrors;
}

bool DBusMenuExporter::AboutToShow(int /*id*/) {
    return false;  // the layout is always current
}

QList<int> DBusMenuExporter::AboutToShowGroup(const QList<int>& ids, QList<int>& idErrors) {
    for (int id : ids) {
        if (!Exists(id)) {
            idErrors.append(id);
        }
    }
    return {};
}

}  // namespace hushwell
