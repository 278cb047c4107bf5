#include "products/docpath.h"

QString UntitledName() {
    return QStringLiteral("Новый файл");
}

QString AsmPath(const QString &path) {
    if (path.endsWith(QLatin1StringView(".asm"), Qt::CaseInsensitive)) return path;
    return path + QLatin1StringView(".asm");
}

QString TargetName(const QString &documentPath, const QString &extension) {
    const QString asmPath = AsmPath(documentPath);
    return asmPath.left(asmPath.size() - 3) + extension;
}
