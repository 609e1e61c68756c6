#pragma once

#include <QCryptographicHash>
#include <QNetworkAccessManager>
#include <QObject>
#include <QString>
#include <QUrl>
#include <functional>
#include <memory>

class QNetworkReply;
class QSaveFile;

// Asks the update server whether a newer program exists ("/version.json" with "version", "url",
// "date", "notes" and "sha256"), and on request downloads the installer, verifies its SHA-256
// digest, starts it and lets the program quit. Only a complete download whose digest matches is
// kept under the installer's name, and an installer is never started without a digest to check
// it by. Every check leaves one line in a log file of its own. GUI thread; the replies arrive
// through the event loop.
class UpdateChecker : public QObject
{
    Q_OBJECT
public:
    // Starts the downloaded installer as a program of its own; true when it runs.
    using Launcher = std::function<bool(const QString &installerPath)>;

    struct Options
    {
        // What stands in front of "/version.json": "https://host[:port][/path]", or plain HTTP
        // on this machine (a local mirror, a test). Empty: there is no update server.
        QUrl origin;
        QString logPath;
        QString installerPath;
        Launcher launcher;
        // Ends the program once the installer runs.
        std::function<void()> quit;
    };

    // The build's update server (SNT_UPDATE_ORIGIN; the setting "update/origin" overrides it),
    // the log "临时/update.log" in the data folder, the installer "Tovan-Update-Setup.exe" in the
    // temporary folder made executable and started detached, and the application's quit.
    static Options programOptions();
    static const QString programVersion;
    // Dotted versions compared part by part as decimal numbers; a missing or non-numeric part
    // counts 0.
    static bool isNewer(const QString &announced, const QString &current);

    explicit UpdateChecker(Options options = programOptions(), QObject *parent = nullptr);
    ~UpdateChecker() override;

    bool updateAvailable() const { return updateAvailable_; }
    QString updateVersion() const { return updateVersion_; }
    QString updateDate() const { return updateDate_; }
    QString updateNotes() const { return updateNotes_; }
    QString updateError() const { return updateError_; }
    bool updating() const { return updating_; }
    double updateProgress() const { return updateProgress_; }

    // Does nothing while a check or a download is under way.
    void checkForUpdates();
    // Does nothing without an announced update, or while a download runs.
    void startUpdate();

signals:
    void updateChanged();

private:
    void onVersionReply();
    void onInstallerData();
    void onInstallerProgress(qint64 received, qint64 total);
    void onInstallerReply();
    void fail(const QString &message);
    void writeLog(const QString &line) const;

    Options options_;
    QNetworkAccessManager network_;
    QNetworkReply *versionReply_ = nullptr;
    QNetworkReply *installerReply_ = nullptr;
    std::unique_ptr<QSaveFile> installerFile_;
    QCryptographicHash installerDigest_{QCryptographicHash::Sha256};
    qint64 installerBytes_ = 0;
    QUrl installerUrl_;
    QString expectedDigest_;

    bool updateAvailable_ = false;
    QString updateVersion_;
    QString updateDate_;
    QString updateNotes_;
    QString updateError_;
    bool updating_ = false;
    double updateProgress_ = 0.0;
};
