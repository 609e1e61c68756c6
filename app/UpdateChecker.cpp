#include "app/UpdateChecker.h"

#include "common/Log.h"
#include "files/DataFolder.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHostAddress>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkReply>
#include <QProcess>
#include <QSaveFile>
#include <QSettings>
#include <QStandardPaths>
#include <QTimer>

#include <utility>

#ifndef SNT_UPDATE_ORIGIN
#define SNT_UPDATE_ORIGIN ""
#endif

namespace {

constexpr int quitDelayMs = 800;
// A server that stops sending for this long has failed, so no check or download hangs forever.
constexpr int stalledTransferMs = 30000;
constexpr qsizetype loggedBodyBytes = 200;

// HTTPS, or plain HTTP to this machine only.
bool isUsableOrigin(const QUrl &origin)
{
    if (!origin.isValid() || origin.host().isEmpty())
        return false;
    if (origin.scheme() == QLatin1String("https"))
        return true;
    return origin.scheme() == QLatin1String("http")
           && (origin.host() == QLatin1String("localhost")
               || QHostAddress(origin.host()).isLoopback());
}

bool isDownloadUrl(const QUrl &url)
{
    return url.isValid() && !url.host().isEmpty()
           && (url.scheme() == QLatin1String("https") || url.scheme() == QLatin1String("http"));
}

qlonglong versionPart(const QStringList &parts, qsizetype index)
{
    bool ok = false;
    const qlonglong value = index < parts.size() ? parts.at(index).toLongLong(&ok) : 0;
    return ok ? value : 0;
}

bool startDetached(const QString &installerPath)
{
    QFile::setPermissions(installerPath,
                          QFile::permissions(installerPath) | QFile::ExeOwner | QFile::ExeUser);
    return QProcess::startDetached(installerPath, {});
}

} // namespace

const QString UpdateChecker::programVersion = QStringLiteral("1.0.9");

UpdateChecker::Options UpdateChecker::programOptions()
{
    QString origin = QSettings().value(QStringLiteral("update/origin")).toString();
    if (origin.isEmpty())
        origin = QStringLiteral(SNT_UPDATE_ORIGIN);
    return Options{QUrl(origin), documentsRoot() + QStringLiteral("/临时/update.log"),
                   QStandardPaths::writableLocation(QStandardPaths::TempLocation)
                           + QStringLiteral("/Tovan-Update-Setup.exe"),
                   &startDetached, [] {
                       QCoreApplication::quit();
                   }};
}

bool UpdateChecker::isNewer(const QString &announced, const QString &current)
{
    const QStringList a = announced.split(QLatin1Char('.'));
    const QStringList b = current.split(QLatin1Char('.'));
    for (qsizetype i = 0; i < std::max(a.size(), b.size()); ++i) {
        const qlonglong x = versionPart(a, i);
        const qlonglong y = versionPart(b, i);
        if (x != y)
            return x > y;
    }
    return false;
}

UpdateChecker::UpdateChecker(Options options, QObject *parent)
    : QObject(parent)
    , options_(std::move(options))
{
    // Redirects are followed, but never from HTTPS down to HTTP.
    network_.setRedirectPolicy(QNetworkRequest::NoLessSafeRedirectPolicy);
    network_.setTransferTimeout(stalledTransferMs);
}

// A reply still under way must not reach the half-destroyed checker while the network manager
// tears it down.
UpdateChecker::~UpdateChecker()
{
    for (QNetworkReply *reply : {versionReply_, installerReply_})
        if (reply)
            reply->disconnect(this);
}

void UpdateChecker::checkForUpdates()
{
    if (versionReply_ || updating_)
        return;
    if (!isUsableOrigin(options_.origin)) {
        const QString why = options_.origin.isEmpty()
                                    ? QStringLiteral("no update server configured")
                                    : QStringLiteral("update server %1 not used: HTTPS only, or "
                                                     "HTTP on this machine")
                                              .arg(options_.origin.toString());
        sntInfo(lcUpdate, "[Update]") << why;
        writeLog(QStringLiteral("err=") + why);
        return;
    }
    QUrl url = options_.origin;
    QString path = url.path();
    while (path.endsWith(QLatin1Char('/')))
        path.chop(1);
    url.setPath(path + QStringLiteral("/version.json"));
    versionReply_ = network_.get(QNetworkRequest(url));
    connect(versionReply_, &QNetworkReply::finished, this, &UpdateChecker::onVersionReply);
}

void UpdateChecker::onVersionReply()
{
    QNetworkReply *reply = std::exchange(versionReply_, nullptr);
    if (!reply)
        return;
    reply->deleteLater();
    if (reply->error() != QNetworkReply::NoError) {
        writeLog(QStringLiteral("err=") + reply->errorString());
        return;
    }
    const QByteArray body = reply->readAll();
    writeLog(QStringLiteral("ok body=") + QString::fromUtf8(body.left(loggedBodyBytes)));
    const QJsonObject file = QJsonDocument::fromJson(body).object();
    const QString version = file.value(QStringLiteral("version")).toString();
    const QUrl url(file.value(QStringLiteral("url")).toString());
    if (version.isEmpty() || url.isEmpty() || !isNewer(version, programVersion))
        return;
    if (!isDownloadUrl(url)) {
        sntWarning(lcUpdate, "[Update]") << "installer address is not an HTTP(S) address:" << url;
        return;
    }
    updateVersion_ = version;
    updateDate_ = file.value(QStringLiteral("date")).toString();
    updateNotes_ = file.value(QStringLiteral("notes")).toString();
    installerUrl_ = url;
    expectedDigest_ = file.value(QStringLiteral("sha256")).toString().toLower();
    updateAvailable_ = true;
    emit updateChanged();
}

void UpdateChecker::startUpdate()
{
    if (!updateAvailable_ || updating_ || installerUrl_.isEmpty())
        return;
    if (expectedDigest_.isEmpty()) {
        fail(QStringLiteral("新版本没有提供安装包校验码，不能自动安装，请手动下载"));
        return;
    }
    updateError_.clear();
    updating_ = true;
    updateProgress_ = 0.0;
    emit updateChanged();
    // The save file appears under the installer's name only when committed.
    installerFile_ = std::make_unique<QSaveFile>(options_.installerPath);
    installerDigest_.reset();
    installerBytes_ = 0;
    QDir().mkpath(QFileInfo(options_.installerPath).path());
    if (!installerFile_->open(QIODevice::WriteOnly)) {
        installerFile_.reset();
        fail(QStringLiteral("临时目录不可写，请手动下载"));
        return;
    }
    // Uncompressed, so that the announced length is the length of what arrives.
    QNetworkRequest request(installerUrl_);
    request.setRawHeader("Accept-Encoding", "identity");
    installerReply_ = network_.get(request);
    connect(installerReply_, &QNetworkReply::readyRead, this, &UpdateChecker::onInstallerData);
    connect(installerReply_, &QNetworkReply::downloadProgress, this,
            &UpdateChecker::onInstallerProgress);
    connect(installerReply_, &QNetworkReply::finished, this, &UpdateChecker::onInstallerReply);
}

void UpdateChecker::onInstallerData()
{
    if (!installerReply_ || !installerFile_)
        return;
    const QByteArray bytes = installerReply_->readAll();
    installerFile_->write(bytes);
    installerDigest_.addData(bytes);
    installerBytes_ += bytes.size();
}

void UpdateChecker::onInstallerProgress(qint64 received, qint64 total)
{
    if (total <= 0 || !updating_)
        return;
    updateProgress_ = double(received) / double(total);
    emit updateChanged();
}

// A download that failed, or whose digest does not match, is discarded: the save file is
// dropped without commit, so nothing half-written stands under the installer's name.
void UpdateChecker::onInstallerReply()
{
    if (!installerReply_)
        return;
    bool received = installerReply_->error() == QNetworkReply::NoError;
    if (received)
        onInstallerData();
    // A connection that closes early can pass for the end of the download.
    const QVariant length = installerReply_->header(QNetworkRequest::ContentLengthHeader);
    received = received && (!length.isValid() || length.toLongLong() == installerBytes_);
    std::exchange(installerReply_, nullptr)->deleteLater();
    const std::unique_ptr<QSaveFile> file = std::move(installerFile_);
    if (!received) {
        fail(QStringLiteral("下载失败，检查网络后重试"));
        return;
    }
    if (QString::fromLatin1(installerDigest_.result().toHex()) != expectedDigest_) {
        fail(QStringLiteral("安装包校验不通过，请重试"));
        return;
    }
    if (!file->commit()) {
        fail(QStringLiteral("保存失败，请手动下载"));
        return;
    }
    if (!options_.launcher(options_.installerPath)) {
        fail(QStringLiteral("安装包没能启动，请到临时目录手动运行 Tovan-Update-Setup.exe"));
        return;
    }
    updating_ = false;
    updateProgress_ = 1.0;
    emit updateChanged();
    QTimer::singleShot(quitDelayMs, this, [quit = options_.quit] { quit(); });
}

void UpdateChecker::fail(const QString &message)
{
    updating_ = false;
    updateError_ = message;
    emit updateChanged();
}

// One line, the latest check's only: the file is rewritten every time.
void UpdateChecker::writeLog(const QString &line) const
{
    QDir().mkpath(QFileInfo(options_.logPath).path());
    QFile file(options_.logPath);
    if (file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        file.write((line + QLatin1Char('\n')).toUtf8());
}
