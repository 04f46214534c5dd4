#include "app/MprisService.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusVariant>
#include <QDBusVirtualObject>
#include <QDir>
#include <QFile>
#include <QStandardPaths>
#include <QThread>
#include <QUrl>
#include <cmath>

#include "platform/MainQueue.h"
#include "platform/ui/NavigationController.h"
#include "platform/ui/VolumeView.h"
#include "screens/AudioPlayerViewController.h"
#include "screens/OnDemandPlayer.h"
#include "streaming/AudioStreamer.h"

namespace {

constexpr const char* kPropertiesInterface = "org.freedesktop.DBus.Properties";
constexpr const char* kNoTrack = "/org/mpris/MediaPlayer2/TrackList/NoTrack";
constexpr const char* kStationTitle = "Ostra Radio";
constexpr double kMicroseconds = 1e6;
// While a programme plays before its length is known, the service looks again this often:
// the length comes from the bit rate of the first fifty packets, with no state change.
constexpr double kLengthRecheckSeconds = 1.0;

constexpr const char* kIntrospection = R"(
  <interface name="org.mpris.MediaPlayer2">
    <method name="Raise"/>
    <method name="Quit"/>
    <property name="CanQuit" type="b" access="read"/>
    <property name="CanRaise" type="b" access="read"/>
    <property name="HasTrackList" type="b" access="read"/>
    <property name="Identity" type="s" access="read"/>
    <property name="DesktopEntry" type="s" access="read"/>
    <property name="SupportedUriSchemes" type="as" access="read"/>
    <property name="SupportedMimeTypes" type="as" access="read"/>
  </interface>
  <interface name="org.mpris.MediaPlayer2.Player">
    <method name="Next"/>
    <method name="Previous"/>
    <method name="Pause"/>
    <method name="PlayPause"/>
    <method name="Stop"/>
    <method name="Play"/>
    <method name="Seek"><arg direction="in" name="Offset" type="x"/></method>
    <method name="SetPosition">
      <arg direction="in" name="TrackId" type="o"/>
      <arg direction="in" name="Position" type="x"/>
    </method>
    <method name="OpenUri"><arg direction="in" name="Uri" type="s"/></method>
    <signal name="Seeked"><arg name="Position" type="x"/></signal>
    <property name="PlaybackStatus" type="s" access="read"/>
    <property name="Rate" type="d" access="readwrite"/>
    <property name="Metadata" type="a{sv}" access="read"/>
    <property name="Volume" type="d" access="readwrite"/>
    <property name="Position" type="x" access="read"/>
    <property name="MinimumRate" type="d" access="read"/>
    <property name="MaximumRate" type="d" access="read"/>
    <property name="CanGoNext" type="b" access="read"/>
    <property name="CanGoPrevious" type="b" access="read"/>
    <property name="CanPlay" type="b" access="read"/>
    <property name="CanPause" type="b" access="read"/>
    <property name="CanSeek" type="b" access="read"/>
    <property name="CanControl" type="b" access="read"/>
  </interface>
)";

QString playbackStatus(const ShownPlayer& player) {
    const AudioStreamer* streamer = player.streamer();
    if (streamer && streamer->isPaused()) return "Paused";
    // Connecting and buffering count as playing: that is what the listener asked for.
    return player.isOn() ? "Playing" : "Stopped";
}

}  // namespace

// The object on the bus. Qt hands it every call made on its path, on the thread it lives on
// (the main thread); Introspect is left to Qt, which asks introspect() for the interfaces.
class MprisService::BusObject : public QDBusVirtualObject {
public:
    explicit BusObject(MprisService& service) : service_(service) {}

    bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override {
        if (QThread::currentThread() == QCoreApplication::instance()->thread()) {
            return service_.handle(message, connection);
        }
        // Not expected (Qt posts to the object's thread), but a reply from here would read
        // the screens off the main thread: answer from there instead.
        if (message.interface() == "org.freedesktop.DBus.Introspectable") return false;
        message.setDelayedReply(true);
        std::weak_ptr<bool> alive = service_.alive_;
        MprisService* service = &service_;
        platform::MainQueue::main().post([alive, service, message, connection] {
            if (alive.lock() && service->handle(message, connection)) return;
            connection.send(message.createErrorReply(QDBusError::UnknownMethod, message.member()));
        });
        return true;
    }

    QString introspect(const QString&) const override { return kIntrospection; }

private:
    MprisService& service_;
};

MprisService::MprisService(ShownPlayer player, Hooks hooks)
    : player_(player), hooks_(std::move(hooks)), object_(std::make_unique<BusObject>(*this)) {
    statusToken_ = platform::NotificationCenter::defaultCenter().addObserver(
        ASStatusChangedNotification, nullptr,
        // Runs inside the streamer's lock: look later, on a turn of our own; and once more
        // after a slide, since a programme leaving by its back control is taken off the
        // stack only when its slide is over.
        [this](const platform::Notification&) {
            scheduleRefresh(0);
            scheduleRefresh(ui::NavigationController::kTransitionSeconds + 0.1);
        });
    titleToken_ = platform::NotificationCenter::defaultCenter().addObserver(
        ASStreamTitleChangedNotification, nullptr,
        [this](const platform::Notification&) { scheduleRefresh(0); });
    volumeToken_ = ui::VolumeView::addOutputVolumeObserver([this](float) { scheduleRefresh(0); });
    announcedRoot_ = rootProperties();
    announcedPlayer_ = playerProperties();

    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) return;
    if (!bus.registerVirtualObject(kObjectPath, object_.get())) return;
    busName_ = kBusName;
    if (!bus.registerService(busName_)) {
        // Another instance has the plain name; the interface's rule for a second one.
        busName_ = QString("%1.instance%2").arg(kBusName).arg(QCoreApplication::applicationPid());
        if (!bus.registerService(busName_)) {
            bus.unregisterObject(kObjectPath);
            busName_.clear();
            return;
        }
    }
    registered_ = true;
}

MprisService::~MprisService() {
    *alive_ = false;
    platform::NotificationCenter::defaultCenter().removeObserver(statusToken_);
    platform::NotificationCenter::defaultCenter().removeObserver(titleToken_);
    ui::VolumeView::removeOutputVolumeObserver(volumeToken_);
    if (!registered_) return;
    QDBusConnection bus = QDBusConnection::sessionBus();
    bus.unregisterService(busName_);
    bus.unregisterObject(kObjectPath);
}

QVariantMap MprisService::rootProperties() const {
    return {
        {"CanQuit", true},
        {"CanRaise", true},
        {"HasTrackList", false},
        {"Identity", QString(kIdentity)},
        {"DesktopEntry", QString(kDesktopEntry)},
        {"SupportedUriSchemes", QStringList()},
        {"SupportedMimeTypes", QStringList()},
    };
}

QVariantMap MprisService::playerProperties() const {
    const bool controllable = player_.playButton() != nullptr;
    return {
        {"PlaybackStatus", playbackStatus(player_)},
        {"Rate", 1.0},
        {"MinimumRate", 1.0},
        {"MaximumRate", 1.0},
        {"Metadata", metadata()},
        {"Volume", double(ui::VolumeView::outputVolume())},
        {"Position", qlonglong(std::llround(player_.position() * kMicroseconds))},
        {"CanGoNext", false},
        {"CanGoPrevious", false},
        {"CanPlay", controllable},
        {"CanPause", controllable},
        {"CanSeek", player_.canSeek()},
        {"CanControl", true},
    };
}

QString MprisService::trackId() const {
    const OnDemandPlayer* programme = player_.programme();
    if (!programme) return player_.live() ? kLiveTrackId : kNoTrack;
    if (programme != trackOwner_) {
        trackOwner_ = programme;
        ++trackSerial_;
    }
    return QString("/org/ostraradio/OstraRadio/track/programme%1").arg(trackSerial_);
}

QVariantMap MprisService::metadata() const {
    QVariantMap data;
    data["mpris:trackid"] = QVariant::fromValue(QDBusObjectPath(trackId()));
    if (!artworkUrl_.isEmpty()) data["mpris:artUrl"] = artworkUrl_;
    if (const OnDemandPlayer* programme = player_.programme()) {
        data["xesam:title"] = QString::fromStdString(
            programme->songTitle().empty() ? kStationTitle : programme->songTitle());
        if (!programme->artist().empty())
            data["xesam:artist"] = QStringList{QString::fromStdString(programme->artist())};
        if (const double length = player_.duration(); length > 0)
            data["mpris:length"] = qlonglong(std::llround(length * kMicroseconds));
    } else if (AudioPlayerViewController* live = player_.live()) {
        // What the station says is on air, where it says so.
        const std::string onAir = live->streamer() ? live->streamer()->streamTitle() : "";
        data["xesam:title"] =
            onAir.empty() ? QString(kStationTitle) : QString::fromStdString(onAir);
    }
    return data;
}

QVariantMap MprisService::propertiesOf(const QString& interface) const {
    if (interface == kRootInterface) return rootProperties();
    if (interface == kPlayerInterface) return playerProperties();
    return {};
}

bool MprisService::handle(const QDBusMessage& message, const QDBusConnection& connection) {
    if (message.type() != QDBusMessage::MethodCallMessage) return false;
    if (artworkUrl_.isEmpty()) artworkUrl_ = artworkUrl();
    const bool served = message.interface() == kPropertiesInterface
                            ? serveProperties(message, connection)
                            : callMethod(message, connection);
    if (served) scheduleRefresh(0);
    return served;
}

bool MprisService::callMethod(const QDBusMessage& message, const QDBusConnection& connection) {
    const QString interface = message.interface();
    const QString member = message.member();
    const QList<QVariant> args = message.arguments();
    if (interface == kRootInterface ||
        (interface.isEmpty() && (member == "Raise" || member == "Quit"))) {
        if (member == "Raise") {
            if (hooks_.raise) hooks_.raise();
        } else if (member == "Quit") {
            // After the reply has gone: quitting tears down the connection's owner.
            if (hooks_.quit) platform::MainQueue::main().post(hooks_.quit);
        } else {
            return false;
        }
        connection.send(message.createReply());
        return true;
    }
    if (interface != kPlayerInterface && !interface.isEmpty()) return false;
    if (member == "Play") {
        player_.turnOn();
    } else if (member == "Pause" || member == "Stop") {
        // The screens' button stops; a stopped stream is what pause leaves too.
        player_.turnOff();
    } else if (member == "PlayPause") {
        player_.pressPlayButton();
    } else if (member == "Next" || member == "Previous" || member == "OpenUri") {
        // Nothing to go to, and nothing else to open: the station is the one source.
    } else if (member == "Seek" && args.size() == 1) {
        if (player_.canSeek()) seekTo(player_.position() + args[0].toLongLong() / kMicroseconds);
    } else if (member == "SetPosition" && args.size() == 2) {
        // A position for another track than the current one is ignored, as the interface says.
        const QString track = qvariant_cast<QDBusObjectPath>(args[0]).path();
        const double seconds = args[1].toLongLong() / kMicroseconds;
        if (player_.canSeek() && track == trackId() && seconds >= 0 &&
            seconds <= player_.duration()) {
            seekTo(seconds);
        }
    } else {
        return false;
    }
    connection.send(message.createReply());
    return true;
}

void MprisService::seekTo(double seconds) {
    player_.seekTo(seconds);
    if (!registered_) return;
    QDBusMessage seeked = QDBusMessage::createSignal(kObjectPath, kPlayerInterface, "Seeked");
    seeked << qlonglong(std::llround(player_.position() * kMicroseconds));
    QDBusConnection::sessionBus().send(seeked);
}

bool MprisService::serveProperties(const QDBusMessage& message, const QDBusConnection& connection) {
    const QList<QVariant> args = message.arguments();
    const QString member = message.member();
    if (args.isEmpty()) return false;
    const QString interface = args[0].toString();
    const QVariantMap properties = propertiesOf(interface);
    if (properties.isEmpty()) {
        connection.send(message.createErrorReply(QDBusError::UnknownInterface, interface));
        return true;
    }
    if (member == "GetAll") {
        connection.send(message.createReply(QVariant(properties)));
        return true;
    }
    if (args.size() < 2) return false;
    const QString name = args[1].toString();
    if (!properties.contains(name)) {
        connection.send(message.createErrorReply(QDBusError::UnknownProperty, name));
        return true;
    }
    if (member == "Get") {
        connection.send(message.createReply(QVariant::fromValue(QDBusVariant(properties[name]))));
        return true;
    }
    if (member == "Set" && args.size() == 3) {
        const QVariant value = qvariant_cast<QDBusVariant>(args[2]).variant();
        if (interface == kPlayerInterface && (name == "Volume" || name == "Rate")) {
            setProperty(interface, name, value);
            connection.send(message.createReply());
        } else {
            connection.send(message.createErrorReply(QDBusError::PropertyReadOnly, name));
        }
        return true;
    }
    return false;
}

void MprisService::setProperty(const QString&, const QString& name, const QVariant& value) {
    // The rate is fixed at 1: a radio plays at its own pace.
    if (name == "Volume") ui::VolumeView::setOutputVolume(float(value.toDouble()));
}

void MprisService::scheduleRefresh(double seconds) {
    if (seconds <= 0) {
        if (refreshPosted_) return;
        refreshPosted_ = true;
    }
    std::weak_ptr<bool> alive = alive_;
    auto task = [this, alive, seconds] {
        if (!alive.lock()) return;
        if (seconds <= 0) refreshPosted_ = false;
        refresh();
    };
    if (seconds <= 0) {
        platform::MainQueue::main().post(task);
    } else {
        platform::MainQueue::main().postAfter(seconds, task);
    }
}

void MprisService::refresh() {
    if (artworkUrl_.isEmpty()) artworkUrl_ = artworkUrl();
    QVariantMap player = playerProperties();
    // Position changes all the time and is read when asked for, never announced.
    player.remove("Position");
    emitChanges(kPlayerInterface, player, announcedPlayer_);
    emitChanges(kRootInterface, rootProperties(), announcedRoot_);
    if (player_.programme() && player_.duration() <= 0 && player_.isOn()) {
        scheduleRefresh(kLengthRecheckSeconds);
    }
}

void MprisService::emitChanges(const QString& interface, const QVariantMap& now,
                               QVariantMap& before) {
    QVariantMap changed;
    for (auto it = now.begin(); it != now.end(); ++it) {
        if (before.value(it.key()) != it.value()) changed[it.key()] = it.value();
    }
    before = now;
    if (changed.isEmpty() || !registered_) return;
    QDBusMessage signal =
        QDBusMessage::createSignal(kObjectPath, kPropertiesInterface, "PropertiesChanged");
    signal << interface << changed << QStringList();
    QDBusConnection::sessionBus().send(signal);
}

QString MprisService::artworkUrl() {
    // The station's artwork as a file that any program on the desktop can read.
    const QString folder =
        QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation) + "/ostra-radio";
    const QString path = folder + "/station-artwork.png";
    if (!QFile::exists(path)) {
        QDir().mkpath(folder);
        QFile::copy(":/images/appicon.png", path);
    }
    return QFile::exists(path) ? QUrl::fromLocalFile(path).toString() : QString();
}
