#pragma once

#include <QDBusArgument>
#include <QList>
#include <QMetaType>
#include <QString>
#include <QVariantMap>

namespace hushwell {

// One entry of the desktop portal's shortcut lists (D-Bus "(sa{sv})"): the shortcut's id and
// its properties ("description", "preferred_trigger" going out, "trigger_description" coming
// back).
struct PortalShortcut {
    QString id;
    QVariantMap properties;
};

using PortalShortcutList = QList<PortalShortcut>;

QDBusArgument& operator<<(QDBusArgument& argument, const PortalShortcut& shortcut);
const QDBusArgument& operator>>(const QDBusArgument& argument, PortalShortcut& shortcut);

// Makes the list known to Qt D-Bus; call before sending or reading one.
void RegisterPortalShortcutTypes();

}  // namespace hushwell

Q_DECLARE_METATYPE(hushwell::PortalShortcut)
