#include "AtSpiGuard.h"

#include <QAccessible>
#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusError>
#include <QDBusMessage>
#include <QDBusVirtualObject>
#include <QLibraryInfo>
#include <QPointer>
#include <QTimer>
#include <QVersionNumber>

namespace vintrix {

namespace {

// Where Qt's AT-SPI bridge registers its objects, on its connection to the
// accessibility bus.
constexpr char kA11yConnection[] = "a11y";
constexpr char kAccessiblePath[] = "/org/a11y/atspi/accessible";

class GetAllFilter : public QDBusVirtualObject {
public:
    GetAllFilter(QDBusVirtualObject* qt, QObject* parent) : QDBusVirtualObject(parent), qt_(qt) {}

    QString introspect(const QString& path) const override { return qt_ ? qt_->introspect(path) : QString(); }

    bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override
    {
        if (message.interface() == QLatin1String("org.freedesktop.DBus.Properties") && message.arguments().size() < 2) {
            connection.send(message.createErrorReply(QDBusError::NotSupported,
                QStringLiteral("%1 is not supported here; ask for each property with Get").arg(message.member())));
            return true;
        }
        return qt_ && qt_->handleMessage(message, connection);
    }

private:
    QPointer<QDBusVirtualObject> qt_;
};

void PutFilterInFront()
{
    QDBusConnection bus(QString::fromLatin1(kA11yConnection));
    const QString path = QString::fromLatin1(kAccessiblePath);
    auto* qt = qobject_cast<QDBusVirtualObject*>(bus.objectRegisteredAt(path));
    if (!bus.isConnected() || !qt || dynamic_cast<GetAllFilter*>(qt))
        return;
    bus.unregisterObject(path, QDBusConnection::UnregisterTree);
    if (!bus.registerVirtualObject(path, new GetAllFilter(qt, qt), QDBusConnection::SubPath))
        bus.registerVirtualObject(path, qt, QDBusConnection::SubPath);
}

// Qt's bridge registers its objects right after it turns accessibility on.
class Activation : public QAccessible::ActivationObserver {
public:
    void accessibilityActiveChanged(bool active) override
    {
        if (active)
            QTimer::singleShot(0, QCoreApplication::instance(), &PutFilterInFront);
    }
};

}  // namespace

void ConnectSessionBus()
{
    QDBusConnection::sessionBus();
}

void GuardAtSpiGetAll()
{
    if (QLibraryInfo::version() >= QVersionNumber(6, 5))
        return;
    static Activation activation;
    QAccessible::installActivationObserver(&activation);
    QTimer::singleShot(0, QCoreApplication::instance(), &PutFilterInFront);
}

}  // namespace vintrix
