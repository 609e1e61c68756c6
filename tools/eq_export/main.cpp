// The EQ converter: reads one request file written by the workbench and hands the EQ on in the
// form another processor's control software takes (see --help). Prints exactly one JSON line
// with the answer; exits 0 on success, else non-zero with the reason on standard error.
#include "ExportFormats.h"
#include "ExportOutput.h"
#include "ExportRequest.h"

#include <QCoreApplication>
#include <QJsonDocument>
#include <QJsonObject>

#include <cstdio>

namespace {

enum Exit { Done = 0, Usage = 2, BadRequest = 3, OutputFailed = 4 };

const char help[] = R"(Usage: eq_export.exe REQUEST.json
       eq_export.exe --help

Reads the EQ request REQUEST.json (one JSON object, at most 262144 bytes):
  "target"   "xta" or "nst"
  "desktop"  folder for the NST preset file
  "filters"  array of bands {"frequency_hz", "gain_db", "q", "enabled"}; disabled bands are
             left out
  "hpf", "lpf"  optional corner filters {"frequency_hz", "filter_type"}, the type one of
             butter6..48, bessel6..48 (6, 12, 18, 24, 36 or 48) or lr12, lr24, lr36, lr48

xta: puts the output channel filters on the clipboard (wl-copy or xclip; a display is needed),
     9 sections: a switched-on corner takes one (the high-pass first, the low-pass last), the
     enabled bands fill the rest, unused sections read OFF:
       XTA OUTPUT FILTERS
       1 HPF BUTTER 24 80
       2 PEQ 1000 -3.5 1.4
       ...
       9 LPF LR 24 16000
nst: writes the preset text file "NST-EQ.txt" into the desktop folder ("NST-EQ-2.txt" and so on
     when that name is taken; an existing file is never replaced), the corners apart and 16 band
     sections:
       [NST OUTPUT CHANNEL]
       HPF=BUTTER,24,80
       LPF=OFF
       PEQ1=1000,-3.5,1.4
       ...
       PEQ16=OFF
Both texts end their lines with CR LF and write numbers in their shortest exact form.

Prints one JSON line: {"ok": true, "supported": bands written, "removed": bands cut,
"total": enabled bands asked for, "path": the NST file} or {"ok": false, "message": reason}.
Exit codes: 0 done, 2 usage, 3 request refused (nothing written), 4 output failed.
)";

void printLine(const QJsonObject &answer)
{
    std::fputs(QJsonDocument(answer).toJson(QJsonDocument::Compact).append('\n').constData(),
               stdout);
}

int fail(Exit code, const QString &reason)
{
    printLine({{QStringLiteral("ok"), false}, {QStringLiteral("message"), reason}});
    std::fprintf(stderr, "eq_export: %s\n", qPrintable(reason));
    return code;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QStringList arguments = app.arguments().mid(1);
    if (arguments.size() == 1
        && (arguments[0] == QLatin1String("--help") || arguments[0] == QLatin1String("-h"))) {
        std::fputs(help, stdout);
        return Done;
    }
    if (arguments.size() != 1)
        return fail(Usage, QStringLiteral("expected one argument, the request file"));

    eqexport::Request request;
    QString error;
    if (!eqexport::readRequest(arguments[0], request, error))
        return fail(BadRequest, error);

    const bool xta = request.target == eqexport::Target::Xta;
    const eqexport::ExportText text = xta ? eqexport::xtaText(request) : eqexport::nstText(request);
    QJsonObject answer{{QStringLiteral("ok"), true},
                       {QStringLiteral("supported"), text.supported},
                       {QStringLiteral("removed"), text.removed},
                       {QStringLiteral("total"), text.total}};
    if (xta) {
        if (!eqexport::copyToClipboard(text.text, error))
            return fail(OutputFailed, error);
    } else {
        const QString path = eqexport::saveNewFile(request.desktop, QStringLiteral("NST-EQ"),
                                                   QStringLiteral(".txt"), text.text, error);
        if (path.isEmpty())
            return fail(OutputFailed, error);
        answer.insert(QStringLiteral("path"), path);
    }
    printLine(answer);
    return Done;
}
