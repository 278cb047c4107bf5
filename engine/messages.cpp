#include "messages.h"

#include <QStringList>

QList<int> ErrorLines(const QString &messages, const QString &documentName) {
    // NASM writes "name:line: error: text"; the name may itself hold colons.
    QList<int> lines;
    const QString prefix = documentName + QLatin1Char(':');
    for (const QString &message : messages.split(QLatin1Char('\n'))) {
        if (!message.startsWith(prefix)) continue;
        const QStringView rest = QStringView(message).mid(prefix.size());
        const qsizetype colon = rest.indexOf(QLatin1Char(':'));
        if (colon <= 0 || !rest.mid(colon + 1).trimmed().startsWith(QLatin1StringView("error"))) continue;
        bool ok = false;
        const int line = rest.left(colon).toInt(&ok);
        if (ok && line > 0 && !lines.contains(line)) lines << line;
    }
    return lines;
}
