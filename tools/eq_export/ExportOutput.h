#pragma once

#include <QByteArray>
#include <QString>

// Where the converter's texts go: the system clipboard, through the desktop's own clipboard
// tool, or a new file that never replaces one already there.
namespace eqexport {

// Puts `text` on the clipboard with wl-copy (under Wayland) or xclip (under X11). Both tools
// stay behind after they read the text and serve it until another program takes the clipboard,
// so it can be pasted after the converter has ended; their output channels go to the null
// device so that nothing keeps the converter's own output open. False with `error` set without a
// display or when the tool fails.
bool copyToClipboard(const QByteArray &text, QString &error);

// Writes `content` to a temporary file in `folder` (created when missing) and renames it to
// "<stem><suffix>", or "<stem>-2<suffix>", "-3"… when that name is taken: an existing file is
// never replaced, and a failed write leaves nothing behind. Returns the new file's path, or an
// empty text with `error` set.
QString saveNewFile(const QString &folder, const QString &stem, const QString &suffix,
                    const QByteArray &content, QString &error);

} // namespace eqexport
