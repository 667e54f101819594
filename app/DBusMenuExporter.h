#pragma once

#include <QDBusContext>
#include <QDBusVariant>
#include <QMap>
#include <QObject>
#include <QPointer>
#include <QStringList>

#include "app/DBusTrayTypes.h"

class QAction;
class QMenu;

namespace hushwell {

// Offers a flat QMenu to a tray host over com.canonical.dbusmenu. Item ids are the action's
// position plus one (0 is the root); labels are converted from the menu's "&" marks to the
// protocol's "_" marks (DBusMenuLabel). A "clicked" event, alone (Event) or among others
// (EventGroup, which libdbusmenu-based hosts send), triggers the action. Any change to the
// menu's actions is announced with LayoutUpdated, and the properties that changed on items the
// host already has (a label going from "Stop" to "Start") with ItemsPropertiesUpdated before
// it, for hosts that keep the properties they fetched.
//
// Left out on purpose: ItemActivationRequested is declared but never sent (the menu has no
// keyboard shortcuts of its own), and AboutToShow never asks for an update (the layout is
// always current).
//
// User-interface thread only; D-Bus calls arrive on it.
class DBusMenuExporter : public QObject, protected QDBusContext {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "com.canonical.dbusmenu")
    Q_SCRIPTABLE Q_PROPERTY(uint Version READ Version) Q_SCRIPTABLE
        Q_PROPERTY(QString TextDirection READ TextDirection) Q_SCRIPTABLE
        Q_PROPERTY(QString Status READ Status) Q_SCRIPTABLE
        Q_PROPERTY(QStringList IconThemePath READ IconThemePath) public
        : explicit DBusMenuExporter(QObject* parent = nullptr);

    void SetMenu(QMenu* menu);

    uint Version() const { return kProtocolVersion; }
    QString TextDirection() const { return QStringLiteral("ltr"); }
    QString Status() const { return QStringLiteral("normal"); }
    QStringList IconThemePath() const { return {}; }

public slots:
    Q_SCRIPTABLE uint GetLayout(int parentId, int recursionDepth, const QStringList& propertyNames,
                                hushwell::DBusMenuLayoutItem& layout);
    Q_SCRIPTABLE QList<hushwell::DBusMenuItemProperties> GetGroupProperties(
        const QList<int>& ids, const QStringList& propertyNames);
    Q_SCRIPTABLE QDBusVariant GetProperty(int id, const QString& name);
    Q_SCRIPTABLE void Event(int id, const QString& eventId, const QDBusVariant& data,
                            uint timestamp);
    // The ids of events whose item does not exist; when no item exists, the UnknownId error.
    Q_SCRIPTABLE QList<int> EventGroup(const QList<hushwell::DBusMenuEvent>& events);
    Q_SCRIPTABLE bool AboutToShow(int id);
    Q_SCRIPTABLE QList<int> AboutToShowGroup(const QList<int>& ids, QList<int>& idErrors);

signals:
    Q_SCRIPTABLE void ItemsPropertiesUpdated(
        const QList<hushwell::DBusMenuItemProperties>& updatedProps,
        const QList<hushwell::DBusMenuItemPropertyNames>& removedProps);
    Q_SCRIPTABLE void LayoutUpdated(uint revision, int parent);
    Q_SCRIPTABLE void ItemActivationRequested(int id, uint timestamp);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    static constexpr uint kProtocolVersion = 3;

    QAction* ActionFor(int id) const;
    bool Exists(int id) const;
    // Runs one event; false when its item does not exist.
    bool HandleEvent(int id, const QString& eventId);
    QVariantMap PropertiesOf(int id, const QStringList& names) const;
    QMap<int, QVariantMap> AllProperties() const;
    void AnnounceLayoutChange();
    void AnnounceChangedProperties();

    QPointer<QMenu> menu_;
    // Every item's properties as last announced; what a host that keeps them has.
    QMap<int, QVariantMap> announced_;
    uint revision_ = 1;
    bool announcePending_ = false;
};

}  // namespace hushwell
