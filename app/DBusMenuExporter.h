#pragma once

#include <QDBusVariant>
#include <QObject>
#include <QPointer>
#include <QStringList>

#include "app/DBusTrayTypes.h"

class QAction;
class QMenu;

namespace hushwell {

// Offers a flat QMenu to a tray host over com.canonical.dbusmenu. Item ids are the action's
// position plus one (0 is the root); labels are converted from the menu's "&" marks to the
// protocol's "_" marks (DBusMenuLabel). A "clicked" event triggers the action. Any change to
// the menu's actions is announced with LayoutUpdated.
//
// User-interface thread only; D-Bus calls arrive on it.
class DBusMenuExporter : public QObject {
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
    Q_SCRIPTABLE bool AboutToShow(int id);
    Q_SCRIPTABLE QList<int> AboutToShowGroup(const QList<int>& ids, QList<int>& idErrors);

signals:
    Q_SCRIPTABLE void LayoutUpdated(uint revision, int parent);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    static constexpr uint kProtocolVersion = 3;

    QAction* ActionFor(int id) const;
    QVariantMap PropertiesOf(int id, const QStringList& names) const;
    void AnnounceLayoutChange();

    QPointer<QMenu> menu_;
    uint revision_ = 1;
    bool announcePending_ = false;
};

}  // namespace hushwell
