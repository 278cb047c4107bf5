#include "run/messages.h"

#include <QSet>

QList<int> ErrorLines(const QString &messages, const QString &documentName) {
    // NASM writes "name:line: error: text" (or "fatal:"); the name may itself
    // hold colons.
    QList<int> lines;
    QSet<int> seen;
    const QString prefix = documentName + QLatin1Char(':');
    for (const QStringView message : QStringView(messages).split(QLatin1Char('\n'))) {
        if (!message.startsWith(prefix)) continue;
        const QStringView rest = message.mid(prefix.size());
        const qsizetype colon = rest.indexOf(QLatin1Char(':'));
        if (colon <= 0) continue;
        const QStringView kind = rest.mid(colon + 1).trimmed();
        if (!kind.startsWith(QLatin1StringView("error")) && !kind.startsWith(QLatin1StringView("fatal"))) continue;
        bool ok = false;
        const int line = rest.left(colon).toInt(&ok);
        if (ok && line > 0 && !seen.contains(line)) {
            seen.insert(line);
            lines << line;
        }
    }
    return lines;
}
