#pragma once

#include <QByteArray>
#include <QDBusArgument>
#include <QList>
#include <QMetaType>
#include <QString>
#include <QStringList>
#include <QVariantMap>

class QIcon;

namespace hushwell {

// The wire records of the StatusNotifierItem and com.canonical.dbusmenu interfaces, with their
// D-Bus marshalling. They travel together, so they are declared together.

// One icon image, (iiay): width, height and ARGB32 pixels in network byte order.
struct DBusIconPixmap {
    int width = 0;
    int height = 0;
    QByteArray pixels;

    // The icon at each of the given square sizes.
    static QList<DBusIconPixmap> FromIcon(const QIcon& icon, const QList<int>& sizes);
};

// The item's tool tip, (sa(iiay)ss): icon name, icon images, title, description.
struct DBusToolTip {
    QString iconName;
    QList<DBusIconPixmap> images;
    QString title;
    QString description;
};

// One menu item with its children, (ia{sv}av); each child travels as a variant.
struct DBusMenuLayoutItem {
    int id = 0;
    QVariantMap properties;
    QList<DBusMenuLayoutItem> children;
};

// One menu item's properties, (ia{sv}).
struct DBusMenuItemProperties {
    int id = 0;
    QVariantMap properties;
};

// One item's property names, (ias): those an item no longer has.
struct DBusMenuItemPropertyNames {
    int id = 0;
    QStringList names;
};

// One event of an EventGroup call, (isvu): item id, event id, data, timestamp.
struct DBusMenuEvent {
    int id = 0;
    QString eventId;
    QVariant data;
    uint timestamp = 0;
};

// Registers the records with the D-Bus type system; call before exporting or reading them.
void RegisterDBusTrayTypes();

QDBusArgument& operator<<(QDBusArgument& arg, const DBusIconPixmap& pixmap);
const QDBusArgument& operator>>(const QDBusArgument& arg, DBusIconPixmap& pixmap);
QDBusArgument& operator<<(QDBusArgument& arg, const DBusToolTip& tip);
const QDBusArgument& operator>>(const QDBusArgument& arg, DBusToolTip& tip);
QDBusArgument& operator<<(QDBusArgument& arg, const DBusMenuLayoutItem& item);
const QDBusArgument& operator>>(const QDBusArgument& arg, DBusMenuLayoutItem& item);
QDBusArgument& operator<<(QDBusArgument& arg, const DBusMenuItemProperties& item);
const QDBusArgument& operator>>(const QDBusArgument& arg, DBusMenuItemProperties& item);
QDBusArgument& operator<<(QDBusArgument& arg, const DBusMenuItemPropertyNames& item);
const QDBusArgument& operator>>(const QDBusArgument& arg, DBusMenuItemPropertyNames& item);
QDBusArgument& operator<<(QDBusArgument& arg, const DBusMenuEvent& event);
const QDBusArgument& operator>>(const QDBusArgument& arg, DBusMenuEvent& event);

}  // namespace hushwell

Q_DECLARE_METATYPE(hushwell::DBusIconPixmap)
Q_DECLARE_METATYPE(hushwell::DBusToolTip)
Q_DECLARE_METATYPE(hushwell::DBusMenuLayoutItem)
Q_DECLARE_METATYPE(hushwell::DBusMenuItemProperties)
Q_DECLARE_METATYPE(hushwell::DBusMenuItemPropertyNames)
Q_DECLARE_METATYPE(hushwell::DBusMenuEvent)
