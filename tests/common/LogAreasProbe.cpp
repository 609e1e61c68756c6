// A program that logs one line of several areas through the program's own message handler, so
// a test can run it under a QT_LOGGING_RULES of its choice and read what reached stderr and the
// mirror file named as its argument.
#include "common/Log.h"

#include <QCoreApplication>

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    snt::log::install(argc > 1 ? QString::fromLocal8Bit(argv[1]) : QString());
    sntInfo(lcStore, "[Store]") << "kept" << 3 << "packs in" << QStringLiteral("工程");
    sntWarning(lcMeasurement, "[Measurement]") << "no input on" << QStringLiteral("alsa:default");
    sntDebug(lcCalibration, "[CalibrationManager]") << "Both calibration files are empty";
    sntDebug(lcWasapi, "Initialize audio client") << "0x88890004";
    sntDebug(lcAlsa, "[ALSA]") << "snd_pcm_open gone No such device";
    sntDebug(lcJack, "[JACK]") << "cannot connect to server";
    sntDebug(lcAsio, "ASIOOutputReady not supported by this driver (result:") << -1000 << ")";
    return 0;
}
