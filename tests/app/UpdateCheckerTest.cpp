#include "app/UpdateChecker.h"
#include "tests/app/UpdatePeer.h"
#include "tests/support/TestMain.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRandomGenerator>
#include <QSignalSpy>
#include <QTemporaryDir>

namespace {

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// JSON written with single quotes, which stand for double ones.
QByteArray json(const char *text)
{
    return QByteArray(text).replace('\'', '"');
}

QByteArray randomBytes(int size)
{
    QByteArray bytes(size, Qt::Uninitialized);
    QRandomGenerator generator(19);
    for (char &b : bytes)
        b = char(generator.bounded(256));
    return bytes;
}

} // namespace

// The update check against an update server of our own (tests/app/update_peer.py) on
// 127.0.0.1: version files newer, the same, older, malformed and missing; installers with right
// and wrong digests, cut short, redirected, and a launcher that fails.
class UpdateCheckerTest : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase()
    {
        QVERIFY(work_.isValid());
        origin_ = peer_.origin();
        QVERIFY(origin_.isValid());
        payload_ = randomBytes(3 << 20);
        QVERIFY(peer_.serve("setup.bin", payload_));
    }

    void init()
    {
        QFile::remove(logPath());
        QFile::remove(installerPath());
        launched_.clear();
        quits_ = 0;
        launches_ = true;
    }

    void versionFiles_data()
    {
        QTest::addColumn<QByteArray>("body"); // empty: no version file at all
        QTest::addColumn<bool>("available");
        const auto file = [](const char *version) {
            return json("{'version': '") + version
                   + json("', 'url': 'https://example.invalid/setup.exe', 'date': '2026-03-01', "
                          "'notes': '新功能'}");
        };
        QTest::newRow("1.0.10 is newer") << file("1.0.10") << true;
        QTest::newRow("1.1 is newer") << file("1.1") << true;
        QTest::newRow("2 is newer") << file("2") << true;
        QTest::newRow("1.0.9 is the same") << file("1.0.9") << false;
        QTest::newRow("1.0.9.0 is the same") << file("1.0.9.0") << false;
        QTest::newRow("1.0.x counts 0") << file("1.0.x") << false;
        QTest::newRow("0.9.9 is older") << file("0.9.9") << false;
        QTest::newRow("no url") << json("{'version': '1.0.10'}") << false;
        QTest::newRow("not an HTTP address")
                << json("{'version': '1.0.10', 'url': 'file:///etc/passwd'}") << false;
        QTest::newRow("malformed") << json("{'version': '1.0.10', 'url': ") << false;
        QTest::newRow("long notes")
                << json("{'version': '2.0', 'url': 'https://example.invalid/s.exe', 'notes': '")
                           + QByteArray(300, 'n') + json("'}")
                << true;
        QTest::newRow("missing") << QByteArray() << false;
    }

    void versionFiles()
    {
        QFETCH(QByteArray, body);
        QFETCH(bool, available);
        peer_.remove("version.json");
        if (!body.isEmpty())
            QVERIFY(peer_.serve("version.json", body));
        UpdateChecker checker(options());
        QSignalSpy changed(&checker, &UpdateChecker::updateChanged);
        for (int check = 0; check < 2; ++check) { // the log keeps the latest check only
            QFile::remove(logPath());
            checker.checkForUpdates();
            QVERIFY(QTest::qWaitFor([this] { return !readFile(logPath()).isEmpty(); }, 10000));
        }
        const QByteArray log = readFile(logPath());
        if (body.isEmpty())
            QVERIFY2(log.startsWith("err=") && log.count('\n') == 1, log.constData());
        else
            QCOMPARE(log, "ok body=" + body.left(200) + "\n");
        QCOMPARE(checker.updateAvailable(), available);
        QCOMPARE(changed.isEmpty(), !available);
        const QJsonObject json = QJsonDocument::fromJson(body).object();
        QCOMPARE(checker.updateVersion(), available ? json.value("version").toString() : QString());
        QCOMPARE(checker.updateNotes(), available ? json.value("notes").toString() : QString());
    }

    void downloads_data()
    {
        QTest::addColumn<QString>("route"); // in front of the installer's name
        QTest::addColumn<QString>("digest");
        QTest::addColumn<bool>("launches");
        QTest::addColumn<QString>("error");
        const QString right = QString::fromLatin1(
                QCryptographicHash::hash(randomBytes(3 << 20), QCryptographicHash::Sha256).toHex());
        const QString wrong = QString::fromLatin1(
                QCryptographicHash::hash("something else", QCryptographicHash::Sha256).toHex());
        QTest::newRow("verified, digest in capitals")
                << "/" << right.toUpper() << true << QString();
        QTest::newRow("redirected") << "/moved/" << right << true << QString();
        QTest::newRow("wrong digest") << "/" << wrong << true << "安装包校验不通过，请重试";
        QTest::newRow("cut short") << "/cut/" << right << true << "下载失败，检查网络后重试";
        QTest::newRow("launcher fails")
                << "/" << right << false
                << "安装包没能启动，请到临时目录手动运行 Tovan-Update-Setup.exe";
        QTest::newRow("no digest") << "/" << QString() << true
                                   << "新版本没有提供安装包校验码，不能自动安装，请手动下载";
    }

    void downloads()
    {
        QFETCH(QString, route);
        QFETCH(QString, digest);
        QFETCH(bool, launches);
        QFETCH(QString, error);
        launches_ = launches;
        const QJsonObject file{{"version", "1.2.0"},
                               {"url", origin_.toString() + route + "setup.bin"},
                               {"sha256", digest}};
        QVERIFY(peer_.serve("version.json", QJsonDocument(file).toJson()));
        UpdateChecker checker(options());
        checker.checkForUpdates();
        QVERIFY(QTest::qWaitFor([&] { return checker.updateAvailable(); }, 10000));
        QList<double> progress;
        connect(&checker, &UpdateChecker::updateChanged, this, [&] {
            if (checker.updating())
                progress << checker.updateProgress();
        });
        peer_.requests();
        checker.startUpdate();
        QVERIFY(QTest::qWaitFor([&] { return !checker.updating(); }, 30000));
        QCOMPARE(checker.updateError(), error);
        const bool verified = error.isEmpty() || !launches;
        QCOMPARE(QFile::exists(installerPath()), verified);
        if (verified)
            QVERIFY(readFile(installerPath()) == payload_);
        QCOMPARE(launched_,
                 error.isEmpty() || !launches ? QStringList{installerPath()} : QStringList());
        QVERIFY(std::is_sorted(progress.cbegin(), progress.cend()));
        QVERIFY(progress.isEmpty() || (progress.first() >= 0.0 && progress.last() <= 1.0));
        if (digest.isEmpty())
            QVERIFY(!peer_.requests().contains("setup.bin")); // nothing was fetched
        // The program leaves for the installer 0.8 s after it started, and only then.
        QTest::qWait(1200);
        QCOMPARE(quits_, error.isEmpty() ? 1 : 0);
        if (error.isEmpty())
            QCOMPARE(checker.updateProgress(), 1.0);
    }

    // Without an update server nothing is sent; the one line says so at once.
    void noServerSendsNothing_data()
    {
        QTest::addColumn<QUrl>("origin");
        QTest::addColumn<QByteArray>("log");
        QTest::newRow("none") << QUrl() << QByteArray("err=no update server configured\n");
        QTest::newRow("plain HTTP elsewhere")
                << QUrl("http://192.0.2.1:8080")
                << QByteArray(
                           "err=update server http://192.0.2.1:8080 not used: HTTPS only, or HTTP "
                           "on this machine\n");
    }

    void noServerSendsNothing()
    {
        QFETCH(QUrl, origin);
        QFETCH(QByteArray, log);
        UpdateChecker::Options o = options();
        o.origin = origin;
        UpdateChecker checker(o);
        checker.checkForUpdates();
        QCOMPARE(readFile(logPath()), log);
        checker.startUpdate();
        QVERIFY(!checker.updating() && !checker.updateAvailable());
    }

private:
    QString logPath() const { return work_.filePath("临时/update.log"); }
    QString installerPath() const { return work_.filePath("download/Tovan-Update-Setup.exe"); }

    UpdateChecker::Options options()
    {
        return UpdateChecker::Options{origin_, logPath(), installerPath(),
                                      [this](const QString &path) {
                                          launched_ << path;
                                          return launches_;
                                      },
                                      [this] {
                                          ++quits_;
                                      }};
    }

    QTemporaryDir work_;
    UpdatePeer peer_;
    QUrl origin_;
    QByteArray payload_;
    QStringList launched_;
    bool launches_ = true;
    int quits_ = 0;
};

SNT_TEST_MAIN(UpdateCheckerTest)
#include "UpdateCheckerTest.moc"
