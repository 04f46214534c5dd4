#pragma once
// The media player on the session bus (MPRIS 2): desktop panels, media keys, `playerctl` and
// phones paired with the desktop see the station and drive it. The bus name is
// org.mpris.MediaPlayer2.OstraRadio (a second instance adds ".instance<pid>"), the object
// /org/mpris/MediaPlayer2 with the two interfaces org.mpris.MediaPlayer2 and
// org.mpris.MediaPlayer2.Player, served by hand (a virtual object), so that every property has
// exactly the type the interface asks for.
//
// It drives the player that ShownPlayer finds through the same operations as its button and
// slider, so the screens stay right; what it reports is read from that player each time.
// Changes are announced with PropertiesChanged: the service looks again on every state change
// of a streamer, every change of the volume and after each call it served, and emits what
// differs. Position is not announced (as the interface says); Seeked is, after a seek.
//
// Main thread only. Calls that the bus delivers on another thread are answered from the main
// thread.

#include <QString>
#include <QVariantMap>
#include <functional>
#include <memory>

#include "app/ShownPlayer.h"
#include "platform/NotificationCenter.h"

class QDBusMessage;
class QDBusConnection;

class MprisService {
public:
    static constexpr const char* kObjectPath = "/org/mpris/MediaPlayer2";
    static constexpr const char* kRootInterface = "org.mpris.MediaPlayer2";
    static constexpr const char* kPlayerInterface = "org.mpris.MediaPlayer2.Player";
    static constexpr const char* kBusName = "org.mpris.MediaPlayer2.OstraRadio";
    static constexpr const char* kIdentity = "Ostra Radio";
    static constexpr const char* kDesktopEntry = "org.ostraradio.OstraRadio";
    static constexpr const char* kLiveTrackId = "/org/ostraradio/OstraRadio/track/live";

    struct Hooks {
        std::function<void()> raise;
        std::function<void()> quit;
    };

    // Registers on the session bus when there is one; without it the service only answers
    // the calls made on this object.
    MprisService(ShownPlayer player, Hooks hooks);
    ~MprisService();
    MprisService(const MprisService&) = delete;
    MprisService& operator=(const MprisService&) = delete;

    bool isRegistered() const { return registered_; }
    const QString& busName() const { return busName_; }

    QVariantMap rootProperties() const;
    QVariantMap playerProperties() const;
    QVariantMap metadata() const;

    // Serves one call on the object; true when it was one of ours. Public for the bus object.
    bool handle(const QDBusMessage& message, const QDBusConnection& connection);
    // Looks at the player again and emits PropertiesChanged for what differs.
    void refresh();

private:
    class BusObject;

    QVariantMap propertiesOf(const QString& interface) const;
    bool callMethod(const QDBusMessage& message, const QDBusConnection& connection);
    bool serveProperties(const QDBusMessage& message, const QDBusConnection& connection);
    void setProperty(const QString& interface, const QString& name, const QVariant& value);
    void seekTo(double seconds);
    void scheduleRefresh(double seconds);
    void emitChanges(const QString& interface, const QVariantMap& now, QVariantMap& before);
    QString trackId() const;
    QString artworkUrl();

    ShownPlayer player_;
    Hooks hooks_;
    std::unique_ptr<BusObject> object_;
    bool registered_ = false;
    QString busName_;
    QString artworkUrl_;

    QVariantMap announcedRoot_;
    QVariantMap announcedPlayer_;
    // Which programme player the track id names; a new one is a new track.
    mutable const void* trackOwner_ = nullptr;
    mutable unsigned trackSerial_ = 0;

    platform::ObserverToken statusToken_ = 0;
    platform::ObserverToken titleToken_ = 0;
    int volumeToken_ = 0;
    bool refreshPosted_ = false;
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};
